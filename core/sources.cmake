# The relay core's files, for the product's core library and the fuzz
# configuration's instrumented copy of it. Qt Core, Qt Network, Qt WebSockets,
# Qt HTTP Server, ODBC, libsystemd (service notifications), prometheus-cpp's
# core (metrics) and rabbitmq-c (the event stream) only.
set(TARVEX_CORE_SOURCES
  core/callevent/callevent.h
  core/callevent/calleventoutput.h
  core/callevent/calloutcome.h
  core/callevent/callrules.cpp core/callevent/callrules.h
  core/centrixcore.cpp core/centrixcore.h
  core/config/appconfig.cpp core/config/appconfig.h
  core/config/descriptorlimit.cpp core/config/descriptorlimit.h
  core/config/instancelock.cpp core/config/instancelock.h
  core/config/localclock.cpp core/config/localclock.h
  core/config/messagepresenter.cpp core/config/messagepresenter.h
  core/config/relayname.cpp core/config/relayname.h
  core/config/servicestatus.cpp core/config/servicestatus.h
  core/config/settingkeys.cpp core/config/settingkeys.h
  core/config/settingsfilewatch.cpp core/config/settingsfilewatch.h
  core/config/settingsstore.cpp core/config/settingsstore.h
  core/config/settingtypes.h
  core/config/systemdnotifier.cpp core/config/systemdnotifier.h
  core/config/terminationsignals.cpp core/config/terminationsignals.h
  core/db/calldatabase.cpp core/db/calldatabase.h
  core/db/callrecord.cpp core/db/callrecord.h
  core/db/callrecording.cpp core/db/callrecording.h
  core/db/callrecorder.cpp core/db/callrecorder.h
  core/db/callrecordrejectfile.cpp core/db/callrecordrejectfile.h
  core/db/callrecordspool.cpp core/db/callrecordspool.h
  core/db/callrecordwriter.cpp core/db/callrecordwriter.h
  core/db/calltext.cpp
  core/db/connectionstring.cpp
  core/db/recordingconnection.cpp core/db/recordingconnection.h
  core/db/syncdirectory.cpp core/db/syncdirectory.h
  core/db/writeoutcome.cpp core/db/writeoutcome.h
  core/eventloop/epolleventdispatcher.cpp core/eventloop/epolleventdispatcher.h
  core/feed/calleventjson.cpp core/feed/calleventjson.h
  core/feed/feedlistener.cpp core/feed/feedlistener.h
  core/feed/feedpages.cpp core/feed/feedpages.h core/feed/pages/feedpages.qrc
  core/feed/feedtoken.cpp core/feed/feedtoken.h
  core/feed/relaystatus.cpp core/feed/relaystatus.h
  core/feed/websocketfeed.cpp core/feed/websocketfeed.h
  core/feed/websockettextframe.cpp core/feed/websockettextframe.h
  core/log/activitylog.cpp core/log/activitylog.h
  core/log/activitylistmodel.cpp core/log/activitylistmodel.h
  core/log/dailylogfile.cpp core/log/dailylogfile.h
  core/log/journalbuffer.cpp core/log/journalbuffer.h
  core/log/journalstream.cpp core/log/journalstream.h
  core/log/callernumbermask.cpp core/log/callernumbermask.h
  core/log/logline.cpp core/log/logline.h
  core/log/privatefile.cpp core/log/privatefile.h
  core/metrics/relaymetrics.cpp core/metrics/relaymetrics.h
  core/outbox/crc32.cpp core/outbox/crc32.h
  core/outbox/outbox.cpp core/outbox/outbox.h
  core/outbox/payloadfields.h
  core/outbox/spoolframe.cpp core/outbox/spoolframe.h
  core/relay/acceptpause.cpp core/relay/acceptpause.h
  core/relay/accesssettings.cpp
  core/relay/activitythrottle.cpp core/relay/activitythrottle.h
  core/relay/allowednetworks.cpp core/relay/allowednetworks.h
  core/relay/allowlistsetting.cpp core/relay/allowlistsetting.h
  core/relay/broadcast.cpp
  core/relay/callnotice.cpp core/relay/callnotice.h
  core/relay/clientadmission.cpp core/relay/clientadmission.h
  core/relay/clientaccept.cpp
  core/relay/clientclose.cpp
  core/relay/clientlistmodel.cpp core/relay/clientlistmodel.h
  core/relay/clientprotocol.cpp core/relay/clientprotocol.h
  core/relay/clientreceive.cpp
  core/relay/clientregistry.cpp core/relay/clientregistry.h
  core/relay/clientrelay.cpp core/relay/clientrelay.h
  core/relay/clientsendbatch.cpp core/relay/clientsendbatch.h
  core/relay/clientsocket.cpp core/relay/clientsocket.h
  core/relay/ipv4text.cpp core/relay/ipv4text.h
  core/relay/listening.cpp
  core/relay/registerdeadline.cpp
  core/relay/registrationmatch.cpp core/relay/registrationmatch.h
  core/relay/sendnow.cpp core/relay/sendnow.h
  core/relay/slowclientdrop.cpp
  core/stream/amqpconnection.cpp core/stream/amqpconnection.h
  core/stream/amqppublisher.cpp core/stream/amqppublisher.h
  core/stream/amqpsettings.cpp core/stream/amqpsettings.h
  core/stream/batchconfirmations.cpp core/stream/batchconfirmations.h
  core/stream/eventrecord.cpp core/stream/eventrecord.h
  core/stream/eventmessage.cpp core/stream/eventmessage.h
  core/stream/eventstream.cpp core/stream/eventstream.h
  core/telephony/accountrow.h
  core/telephony/accountslot.h
  core/telephony/calleventreader.cpp core/telephony/calleventreader.h
  core/telephony/networktelcontrol.cpp core/telephony/networktelcontrol.h
  core/telephony/reportlistmodel.cpp core/telephony/reportlistmodel.h
  core/telephony/signinbackoff.cpp core/telephony/signinbackoff.h
  core/telephony/storedaddress.cpp core/telephony/storedaddress.h
  core/telephony/tasbaseopenapictrl1.h
  core/telephony/telephoneaccounts.cpp core/telephony/telephoneaccounts.h
  core/telephony/telbaseopenapi.h
  core/telephony/telprotocol.cpp core/telephony/telprotocol.h
  core/text/cp949.cpp core/text/cp949.h
  core/text/eventtext.cpp core/text/eventtext.h
  core/text/isodatetime.cpp core/text/isodatetime.h
  core/text/jsonobjectwriter.cpp core/text/jsonobjectwriter.h
  core/webhook/outboxwebhookqueue.cpp core/webhook/outboxwebhookqueue.h
  core/webhook/webhookdelivery.cpp core/webhook/webhookdelivery.h
  core/webhook/webhookpolicy.h
  core/webhook/webhookqueue.h
  core/webhook/webhookrejectfile.cpp core/webhook/webhookrejectfile.h
  core/webhook/webhooks.cpp core/webhook/webhooks.h
  core/webhook/webhooksetting.cpp core/webhook/webhooksetting.h)
list(TRANSFORM TARVEX_CORE_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/../)
set(TARVEX_CORE_LIBRARIES Qt6::Core Qt6::Network Qt6::WebSockets Qt6::HttpServer PkgConfig::ODBC
    PkgConfig::SYSTEMD prometheus-cpp::core PkgConfig::RABBITMQ ZLIB::ZLIB)
