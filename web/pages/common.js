// What every page shares: the session (login and the token that changing requests carry),
// requests, the live stream of a rack, and formatting.
"use strict";

const vyn = {
  session: null,
  host: new URLSearchParams(location.search).get("host") || "",

  hostQuery(prefix = "?") {
    return vyn.host ? prefix + "host=" + encodeURIComponent(vyn.host) : "";
  },

  text(value) {
    return String(value ?? "").replace(/[&<>"']/g,
      (c) => ({ "&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;", "'": "&#39;" })[c]);
  },

  count(n) { return Number(n ?? 0).toLocaleString("en-US"); },

  show(message, isError) {
    const line = document.getElementById("message");
    if (line) {
      line.textContent = message;
      line.className = isError ? "error" : "";
    }
  },

  async loadSession() {
    const response = await fetch("/api/session");
    vyn.session = await response.json();
    const user = document.getElementById("user");
    if (user && vyn.session.loginRequired && vyn.session.loggedIn) {
      user.innerHTML = vyn.text(vyn.session.user) + ' <button id="logout">Log out</button>';
      document.getElementById("logout").onclick = async () => {
        await vyn.post("/api/logout", {});
        location.reload();
      };
    }
    const fleetLink = document.getElementById("fleet-link");
    if (fleetLink) fleetLink.classList.toggle("hidden", !vyn.session.fleet);
    return vyn.session;
  },

  // Shows the login form and resolves once logged in.
  login() {
    const panel = document.createElement("section");
    panel.id = "login";
    panel.innerHTML = `<form>
        <label>User <input name="user" autocomplete="username" required></label>
        <label>Password <input name="password" type="password" autocomplete="current-password" required></label>
        <button class="primary" type="submit">Log in</button>
        <span class="login-error error"></span>
      </form>`;
    document.querySelector("main").prepend(panel);
    return new Promise((resolve) => {
      panel.querySelector("form").onsubmit = async (event) => {
        event.preventDefault();
        const form = new FormData(event.target);
        const response = await fetch("/api/login", {
          method: "POST",
          headers: { "Content-Type": "application/json" },
          body: JSON.stringify({ user: form.get("user"), password: form.get("password") }),
        });
        const body = await response.json();
        if (!response.ok) {
          panel.querySelector(".login-error").textContent = body.error;
          return;
        }
        panel.remove();
        resolve(await vyn.loadSession());
      };
    });
  },

  async ready() {
    const session = await vyn.loadSession();
    if (session.loginRequired && !session.loggedIn) await vyn.login();
  },

  async post(path, body) {
    const response = await fetch(path + vyn.hostQuery(), {
      method: "POST",
      headers: { "Content-Type": "application/json", "X-CSRF-Token": vyn.session.csrf || "" },
      body: JSON.stringify(body),
    });
    const type = response.headers.get("Content-Type") || "";
    const answer = type.includes("json") ? await response.json() : { error: (await response.text()).trim() };
    return { ok: response.ok, status: response.status, answer };
  },

  // Calls `render` with each state of the rack: live while the server allows another stream,
  // else every two seconds.
  watchRack(render) {
    const poll = async () => {
      const response = await fetch("/api/rack" + vyn.hostQuery());
      if (response.ok) render(await response.json());
    };
    const source = new EventSource("/api/events" + vyn.hostQuery());
    let live = false;
    source.onopen = () => { live = true; document.body.dataset.live = "yes"; };
    source.onmessage = (event) => render(JSON.parse(event.data));
    source.onerror = () => {
      if (live) return;  // the browser reconnects by itself
      source.close();
      document.body.dataset.live = "no";
      vyn.show("Live updates are not available now (too many open views); refreshing every 2 s.", false);
      poll();
      setInterval(poll, 2000);
    };
  },
};
