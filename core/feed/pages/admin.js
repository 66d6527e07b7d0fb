"use strict";

// The administrator's page: the relay's state from the status messages and
// the calls as they come.
const MAX_SHOWN_CALLS = 50;

function showStatus(status) {
  const accounts = document.querySelector("#accounts tbody");
  accounts.replaceChildren();
  for (const account of Array.isArray(status.accounts) ? status.accounts : []) {
    const row = textRow([account.slot, account.id, account.extension,
                         account.signedIn ? "로그인" : "로그아웃"]);
    row.dataset.id = String(account.id);
    row.dataset.signedIn = String(account.signedIn === true);
    accounts.appendChild(row);
  }
  const clients = status.clients || {};
  const records = status.records || {};
  for (const [id, value] of [["clients-extension", clients.extension],
                             ["clients-ldk", clients.ldk], ["clients-feed", clients.feed],
                             ["records-waiting", records.waiting],
                             ["records-memory", records.inMemory],
                             ["events-waiting", status.eventsWaiting]]) {
    document.getElementById(id).textContent = value === undefined ? "-" : String(value);
  }
  const hooks = Array.isArray(status.webhooksFailing) ? status.webhooksFailing : [];
  document.getElementById("webhooks-failing").textContent =
      hooks.length === 0 ? "없음" : hooks.map(webhookText).join(", ");
  const activity = document.getElementById("activity");
  activity.replaceChildren();
  for (const line of Array.isArray(status.activity) ? status.activity : []) {
    const item = document.createElement("li");
    // The LDK505 lines start with the protocol's control bytes, which a page cannot show.
    item.textContent = String(line).replace(/[\u0000-\u001f\u007f]/g, "");
    activity.appendChild(item);
  }
}

// "CRM (3회 실패: HTTP 503, 대기 2건)"; a hook that a 410 answer stopped says so.
function webhookText(hook) {
  const state = hook.stopped ? "중지됨" : `${hook.tries}회 실패: ${hook.lastError}`;
  return `${hook.name} (${state}, 대기 ${hook.waiting}건)`;
}

function showCall(event) {
  const body = document.querySelector("#calls tbody");
  body.prepend(textRow([clockOf(event.time), eventName(event.event), event.extension, event.caller,
                        event.inbound]));
  while (body.rows.length > MAX_SHOWN_CALLS) body.deleteRow(-1);
  document.getElementById("no-calls").hidden = true;
}

const connection = new FeedConnection({
  welcome: (welcome) => {
    if (welcome.admin !== true) connection.signOut("관리자 토큰이 아닙니다");
  },
  message: (message) => {
    if (message.type === "status") showStatus(message);
    else if (message.type === "call") showCall(message);
  },
  state: showState,
});
bindSignIn(connection);
connection.start();
