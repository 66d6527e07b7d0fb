"use strict";

// The feed's sign-in and connection, shared by the agent's and the
// administrator's pages. Everything the relay sends is shown as text.
const CLOSE_REASONS = {
  1006: "연결이 끊겼습니다",
  1009: "메시지가 너무 깁니다",
  4000: "잘못된 메시지를 보냈습니다",
  4001: "토큰을 보내지 않았습니다",
  4003: "알 수 없는 토큰입니다",
  4004: "토큰이 삭제되었습니다",
  4008: "수신이 늦어 연결이 끊겼습니다",
};
// After these the same token would be refused again: no reconnecting.
const FINAL_CLOSES = new Set([4001, 4003, 4004]);
const TOKEN_KEY = "tarvex.token";
const MAX_RETRY_MS = 30000;

class FeedConnection {
  // handlers: welcome(message), message(message), state(kind, text)
  constructor(handlers) {
    this.handlers = handlers;
    this.socket = null;
    this.retryMs = 1000;
    this.retryTimer = null;
    this.takeTokenFromAddress();
  }

  // A token in the fragment never reaches the server; it leaves the address
  // bar (and the history) at once.
  takeTokenFromAddress() {
    const match = location.hash.match(/^#token=([^&]+)/);
    if (!match) return;
    sessionStorage.setItem(TOKEN_KEY, decodeURIComponent(match[1]));
    history.replaceState(null, "", location.pathname + location.search);
  }

  token() {
    return sessionStorage.getItem(TOKEN_KEY);
  }

  signIn(token) {
    sessionStorage.setItem(TOKEN_KEY, token);
    this.connect();
  }

  signOut(text) {
    sessionStorage.removeItem(TOKEN_KEY);
    this.stop();
    this.handlers.state("signed-out", text || "로그아웃되었습니다");
  }

  start() {
    if (this.token()) this.connect();
    else this.handlers.state("signed-out", "토큰으로 로그인하세요");
  }

  stop() {
    clearTimeout(this.retryTimer);
    if (this.socket) {
      this.socket.onclose = null;
      this.socket.close();
      this.socket = null;
    }
  }

  connect() {
    this.stop();
    this.handlers.state("connecting", "연결 중…");
    const scheme = location.protocol === "https:" ? "wss://" : "ws://";
    const socket = new WebSocket(scheme + location.host + "/");
    this.socket = socket;
    socket.onopen = () => socket.send(JSON.stringify({type: "auth", token: this.token()}));
    socket.onmessage = (event) => this.receive(event.data);
    socket.onclose = (event) => this.closed(event.code);
  }

  receive(data) {
    let message;
    try {
      message = JSON.parse(data);
    } catch (error) {
      return;
    }
    if (message === null || typeof message !== "object") return;
    if (message.type === "welcome") {
      this.retryMs = 1000;
      this.handlers.state("signed-in", "연결됨: " + String(message.relay));
      this.handlers.welcome(message);
    } else {
      this.handlers.message(message);
    }
  }

  closed(code) {
    this.socket = null;
    const reason = (CLOSE_REASONS[code] || "연결이 닫혔습니다") + " (" + code + ")";
    if (FINAL_CLOSES.has(code)) {
      this.signOut(reason);
      return;
    }
    const seconds = Math.round(this.retryMs / 1000);
    this.handlers.state("closed", reason + ", " + seconds + "초 후 다시 연결합니다");
    this.retryTimer = setTimeout(() => this.connect(), this.retryMs);
    this.retryMs = Math.min(this.retryMs * 2, MAX_RETRY_MS);
  }
}

// The page's frame: the sign-in form, the state line and the sign-out button.
function bindSignIn(connection) {
  const form = document.getElementById("signin");
  const input = document.getElementById("token");
  const signOut = document.getElementById("signout");
  form.addEventListener("submit", (event) => {
    event.preventDefault();
    if ("Notification" in window && Notification.permission === "default") {
      Notification.requestPermission();
    }
    connection.signIn(input.value.trim());
    input.value = "";
  });
  signOut.addEventListener("click", () => connection.signOut());
}

function showState(kind, text) {
  const state = document.getElementById("state");
  state.textContent = text;
  state.dataset.kind = kind;
  document.body.dataset.state = kind;
  document.getElementById("signin").hidden = kind !== "signed-out";
  document.getElementById("signout").hidden = kind === "signed-out";
}

// A table row of text cells.
function textRow(values) {
  const row = document.createElement("tr");
  for (const value of values) {
    const cell = document.createElement("td");
    cell.textContent = value === undefined || value === null ? "" : String(value);
    row.appendChild(cell);
  }
  return row;
}

const EVENT_NAMES = {ring: "전화 옴", answer: "통화 중", end: "통화 끝"};

function eventName(event) {
  return EVENT_NAMES[event] || String(event);
}

// 09:05:30, as the relay's window shows times.
function clockOf(isoTime) {
  const time = new Date(String(isoTime));
  if (isNaN(time)) return String(isoTime);
  return [time.getHours(), time.getMinutes(), time.getSeconds()]
      .map((part) => String(part).padStart(2, "0")).join(":");
}
