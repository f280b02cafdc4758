// The rack page: a row per port, live; start, stop and extend on the ports ticked, and a sweep
// of them with its progress.
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

// The sweep's progress: a line that says where it is, then its matrix of ports by steps.
function renderSweep(sweep) {
  const panel = document.getElementById("sweep-progress");
  if (!sweep) {
    panel.innerHTML = "";
    delete panel.dataset.state;
    return;
  }
  const steps = sweep.steps.length;
  const open = sweep.state === "running" || sweep.state === "stopping";
  let line = `Sweep of ${vyn.text(sweep.instance)} ${sweep.ports.join(", ")}: `;
  line += open ? `step ${sweep.step} of ${steps} (${vyn.text(sweep.steps[sweep.step - 1])}) ${sweep.state}.`
               : `${vyn.text(sweep.state)}. ${vyn.text(sweep.message)}.`;
  if (sweep.run !== null) {
    const links = ["junit", "csv", "json"]
      .map((format) => `<a href="/api/runs?run=${sweep.run}&format=${format}" download>${format === "junit" ? "JUnit" : format.toUpperCase()}</a>`)
      .join(" · ");
    line += ` Recorded as <a href="/records.html#run-${sweep.run}">run ${sweep.run}</a>: ${links}`;
  }
  const head = sweep.steps.map((label) => `<th>${vyn.text(label)}</th>`).join("");
  const body = sweep.ports.map((port, index) => {
    const cells = sweep.steps.map((label, step) => {
      const done = sweep.cells[step];
      const word = done ? done[index] : open && step === sweep.step - 1 ? sweep.current[index] || "requested" : "-";
      return `<td class="${done ? "cell-" + word.replace(/ /g, "-") : ""}">${vyn.text(word)}</td>`;
    }).join("");
    return `<tr><td>${port}</td>${cells}</tr>`;
  }).join("");
  panel.dataset.state = sweep.state;
  panel.innerHTML = `<p id="sweep-line">${line}</p>
    <table id="sweep-matrix"><thead><tr><th>Port</th>${head}</tr></thead><tbody>${body}</tbody></table>`;
}

// Instances whose agent has ended while their tests ran.
function renderAgents(rack) {
  const gone = rack.instances.filter((instance) => instance.agent === false).map((instance) => instance.instance);
  document.getElementById("rack-agent").textContent = gone.length
    ? `The agent of ${gone.join(", ")} has ended: its running tests ended without a result (interrupted).`
    : "";
}

function render(rack) {
  document.getElementById("rack-error").textContent =
    rack.error ? "The store cannot be read: " + rack.error : "";
  renderAgents(rack);
  renderSweep(rack.sweep);
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

function sweepRequest() {
  const chosen = picked();
  if (chosen.size === 0) return null;
  if (chosen.size > 1) {
    vyn.show("A sweep runs on the ports of one instance.", true);
    return null;
  }
  const form = new FormData(document.getElementById("sweep-form"));
  const given = settings();
  // Each step gives the speed and the frame.
  for (const name of ["speed", "data-bits", "parity", "stop-bits"]) delete given[name];
  for (const name of ["speeds", "frames", "board", "operator", "note"]) {
    const value = String(form.get(name) || "").trim();
    if (value !== "") given[name] = value;
  }
  const [[instance, ports]] = chosen;
  return { instance, ports, settings: given };
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
  document.getElementById("sweep-form").onsubmit = async (event) => {
    event.preventDefault();
    const request = sweepRequest();
    if (!request) return;
    const { ok, answer } = await vyn.post("/api/sweep", request);
    vyn.show(ok ? `Sweep of ${request.instance} ${request.ports.join(", ")} started: ${answer.steps} steps.` : answer.error, !ok);
  };
  document.getElementById("sweep-stop").onclick = async () => {
    const { ok, answer } = await vyn.post("/api/sweep/stop", {});
    vyn.show(ok ? "Stopping the sweep's running step; the finished steps are kept." : answer.error, !ok);
  };
  document.getElementById("select-all").onchange = (event) => {
    for (const row of rows.values()) row.querySelector(".pick").checked = event.target.checked;
  };
  vyn.watchRack(render);
}

main();
