-- The call table and the procedure that the relay calls once per recorded call,
-- for SQL Server. Run it in the relay's database as its login (or grant that
-- login EXECUTE on the procedure).
--
-- The relay sends its texts as CP949 bytes through a non-Unicode connection:
-- varchar columns under a Korean collation (Korean_Wansung_CI_AS) keep them as they are.

IF OBJECT_ID(N'dbo.calls', N'U') IS NULL
  CREATE TABLE dbo.calls (
    id          bigint IDENTITY(1, 1) PRIMARY KEY,
    center_id   int          NOT NULL,
    caller      varchar(255) NOT NULL,
    in_exten    varchar(255) NOT NULL,
    account_ext varchar(255) NOT NULL,
    received_at datetime     NOT NULL DEFAULT GETDATE()
  );
GO

IF OBJECT_ID(N'dbo.cid_CallInWrite', N'P') IS NOT NULL
  DROP PROCEDURE dbo.cid_CallInWrite;
GO

-- SET NOCOUNT ON is harmless: the relay counts a call that returns SQL_NO_DATA
-- as written.
CREATE PROCEDURE dbo.cid_CallInWrite
  @center_id   int,
  @caller      varchar(255),
  @in_exten    varchar(255),
  @account_ext varchar(255)
AS
BEGIN
  INSERT INTO dbo.calls (center_id, caller, in_exten, account_ext)
  VALUES (@center_id, @caller, @in_exten, @account_ext);
END
GO
