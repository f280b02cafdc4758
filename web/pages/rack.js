// The rack page: a row per port, live; start, stop and extend on the ports ticked.
"use strict";

const rows = new Map();  // "instance/port" -> its <tr>

function rowKey(instance, port) { return instance + "/" + port; }

function progress(port) {
  if (port.view !== "running") return "";
  const total = port.time;
  const done = total > 0 ? Math.min(100, Math.max(0, 100 * (total - port.left) / total)) : 100;
  const left = total > 0 ? port.left + " s left" : port.left + " s left of period";
  return `<span class="bar"><div style="width:${done.toFixed(1)}%"></div></span><span class="left">${left}</span>`;
}

function errorsCell(port) {
  const total = port.dataErrors + port.rxErrors;
  const kinds = port.kindsText ? `<span class="kinds">${vyn.text(port.kindsText)}</span>` : "";
  return vyn.count(total) + kinds;
}

function render(rack) {
  document.getElementById("rack-error").textContent = rack.error || "";
  const body = document.querySelector("#ports tbody");
  const seen = new Set();
  const several = rack.instances.length > 1;
  for (const { instance, ports } of rack.instances) {
    for (const port of ports) {
      const key = rowKey(instance, port.port);
      seen.add(key);
      let row = rows.get(key);
      if (!row) {
        row = document.createElement("tr");
        row.id = "port-" + instance + "-" + port.port;
        row.dataset.instance = instance;
        row.dataset.port = port.port;
        row.innerHTML = `<td><input type="checkbox" class="pick"></td><td class="port"></td>
          <td class="device"></td><td class="state"><span class="badge"></span></td>
          <td class="settings"></td><td class="num sent"></td><td class="num received"></td>
          <td class="num errors"></td><td class="num rate"></td><td class="num avg"></td>
          <td class="progress"></td><td class="result"></td>`;
        body.appendChild(row);
        rows.set(key, row);
      }
      const detail = "/port.html?instance=" + encodeURIComponent(instance) + "&port=" + port.port + vyn.hostQuery("&");
      row.className = "view-" + port.view;
      row.dataset.view = port.view;
      row.querySelector(".port").innerHTML =
        `<a href="${detail}">${several ? vyn.text(instance) + " " : ""}${port.port}</a>`;
      row.querySelector(".device").textContent = port.device;
      row.querySelector(".badge").textContent = port.state;
      row.querySelector(".settings").textContent = `${port.line} ${port.mode}, ${port.time ? port.time + " s" : "until stopped"}`;
      row.querySelector(".sent").textContent = vyn.count(port.sent);
      row.querySelector(".received").textContent = vyn.count(port.received);
      row.querySelector(".errors").innerHTML = errorsCell(port);
      row.querySelector(".rate").textContent = vyn.count(port.rate);
      row.querySelector(".avg").textContent = vyn.count(port.avgRate);
      row.querySelector(".progress").innerHTML = progress(port);
      row.querySelector(".result").textContent = port.result;
    }
  }
  for (const [key, row] of rows) {
    if (!seen.has(key)) { row.remove(); rows.delete(key); }
  }
}

// The ticked ports, by instance.
function picked() {
  const chosen = new Map();
  for (const row of rows.values()) {
    if (!row.querySelector(".pick").checked) continue;
    const list = chosen.get(row.dataset.instance) || [];
    list.push(Number(row.dataset.port));
    chosen.set(row.dataset.instance, list);
  }
  if (chosen.size === 0) vyn.show("Tick the ports first.", true);
  return chosen;
}

function settings() {
  const form = new FormData(document.getElementById("settings"));
  const chosen = {};
  for (const name of ["speed", "data-bits", "parity", "stop-bits", "flow", "time", "stop-on-errors"]) {
    const value = form.get(name);
    if (value !== null && value !== "") chosen[name] = String(value);
  }
  if (form.get("loop")) chosen[form.get("loop")] = true;
  return chosen;
}

async function act(path, bodyOf, said) {
  const messages = [];
  let failed = false;
  for (const [instance, ports] of picked()) {
    const { ok, answer } = await vyn.post(path, bodyOf(instance, ports));
    failed ||= !ok;
    messages.push(ok ? said(instance, ports, answer) : answer.error);
  }
  if (messages.length) vyn.show(messages.join(" "), failed);
}

async function main() {
  await vyn.ready();
  document.getElementById("rack-name").textContent = vyn.host ? "rack " + vyn.host : "rack";
  document.getElementById("records-link").classList.toggle("hidden", Boolean(vyn.host));
  document.getElementById("settings").onsubmit = (event) => {
    event.preventDefault();
    act("/api/start", (instance, ports) => ({ instance, ports, settings: settings() }),
        (instance, ports) => `Started ${instance} ${ports.join(", ")}.`);
  };
  document.getElementById("stop").onclick = () =>
    act("/api/stop", (instance, ports) => ({ instance, ports }),
        (instance, ports, answer) => `Stopping ${instance} ${answer.stopping.join(", ")}.`);
  document.getElementById("extend").onclick = () => {
    const seconds = Number(new FormData(document.getElementById("settings")).get("extend"));
    act("/api/extend", (instance, ports) => ({ instance, port: ports[0], seconds }),
        (instance, ports, answer) => `${instance} ${ports[0]}: ${answer.left} s left.`);
  };
  document.getElementById("select-all").onchange = (event) => {
    for (const row of rows.values()) row.querySelector(".pick").checked = event.target.checked;
  };
  vyn.watchRack(render);
}

main();
