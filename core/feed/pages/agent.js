"use strict";

// The agent's page: the ringing call at once, a desktop notification, and
// the day's calls kept in this browser.
const MAX_KEPT_CALLS = 300;
let linkTemplate = "";

function todayKey() {
  const now = new Date();
  const day = [now.getFullYear(), now.getMonth() + 1, now.getDate()]
                  .map((part) => String(part).padStart(2, "0")).join("-");
  return "tarvex.calls." + day;
}

function keptCalls() {
  try {
    const calls = JSON.parse(localStorage.getItem(todayKey()) || "[]");
    return Array.isArray(calls) ? calls : [];
  } catch (error) {
    return [];
  }
}

// Only web addresses: a template or caller that makes anything else gets no link.
function linkFor(caller) {
  if (!linkTemplate || !caller) return null;
  try {
    const url = new URL(linkTemplate.split("{caller}").join(encodeURIComponent(caller)));
    return url.protocol === "https:" || url.protocol === "http:" ? url.href : null;
  } catch (error) {
    return null;
  }
}

function setLink(anchor, caller) {
  const href = linkFor(caller);
  anchor.hidden = href === null;
  if (href !== null) anchor.href = href;
}

function showCalls() {
  const body = document.querySelector("#calls tbody");
  const calls = keptCalls();
  body.replaceChildren();
  for (const call of calls.slice().reverse()) {
    const row = textRow([clockOf(call.time), call.caller, call.inbound, call.extension]);
    const cell = document.createElement("td");
    const anchor = document.createElement("a");
    anchor.textContent = "조회";
    anchor.target = "_blank";
    anchor.rel = "noopener noreferrer";
    setLink(anchor, call.caller);
    cell.appendChild(anchor);
    row.appendChild(cell);
    body.appendChild(row);
  }
  document.getElementById("no-calls").hidden = calls.length > 0;
}

function keepCall(event) {
  const calls = keptCalls();
  calls.push({time: String(event.time), caller: String(event.caller),
              inbound: String(event.inbound), extension: String(event.extension)});
  localStorage.setItem(todayKey(), JSON.stringify(calls.slice(-MAX_KEPT_CALLS)));
  showCalls();
}

function notify(event) {
  if (!("Notification" in window) || Notification.permission !== "granted") return;
  new Notification("전화: " + String(event.caller || "번호 없음"), {
    body: "내선 " + String(event.extension) + " · " + String(event.inbound),
    tag: String(event.callId || event.time),
  });
}

function showCall(event) {
  if (event.type !== "call") return;
  document.getElementById("ringing").hidden = false;
  document.getElementById("ring-state").textContent = eventName(event.event);
  document.getElementById("ringing").dataset.event = String(event.event);
  if (event.event !== "ring") return;
  document.getElementById("ring-caller").textContent = String(event.caller || "번호 없음");
  document.getElementById("ring-inbound").textContent = String(event.inbound);
  document.getElementById("ring-extension").textContent = String(event.extension);
  document.getElementById("ring-time").textContent = clockOf(event.time);
  setLink(document.getElementById("ring-link"), String(event.caller));
  keepCall(event);
  notify(event);
}

// Browsers ask for the permission only on a click: a token from the address has none.
function offerNotifications() {
  const button = document.getElementById("notify");
  button.hidden = !("Notification" in window) || Notification.permission !== "default";
  button.onclick = () => Notification.requestPermission().then(offerNotifications);
}

const connection = new FeedConnection({
  welcome: (welcome) => {
    linkTemplate = typeof welcome.link === "string" ? welcome.link : "";
    const extensions = Array.isArray(welcome.extensions) ? welcome.extensions.join(", ") : "";
    document.getElementById("who").textContent =
        welcome.admin ? "모든 내선" : "내선 " + extensions;
    showCalls();
    offerNotifications();
  },
  message: showCall,
  state: showState,
});
bindSignIn(connection);
showCalls();
connection.start();
