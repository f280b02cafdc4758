// A port's detail: its values, a live chart of its current and average rate, and the data
// received around its last data error.
"use strict";

const query = new URLSearchParams(location.search);
const instance = query.get("instance") || "";
const portNumber = Number(query.get("port"));
const series = [[], [], []];  // seconds since the page opened, rate, average rate
const opened = Date.now();
let chart = null;

function facts(port) {
  const rows = [
    ["State", `<span class="badge">${vyn.text(port.state)}</span>`],
    ["Device", vyn.text(port.device)],
    ["Settings", vyn.text(`${port.line}, ${port.mode} loopback, flow ${port.flow}, pattern ${port.pattern}`)],
    ["Time", port.time ? port.time + " s" : "until stopped"],
    ["Sent / received", `${vyn.count(port.sent)} / ${vyn.count(port.received)}`],
    ["Data errors / receive errors", `${vyn.count(port.dataErrors)} / ${vyn.count(port.rxErrors)}`],
    ["Rate / average", `${vyn.count(port.rate)} / ${vyn.count(port.avgRate)} Baud`],
    ["Result", vyn.text(port.result)],
  ];
  for (const line of port.details) rows.push(["", vyn.text(line)]);
  if (port.lines) {
    const { wiring, checked, failed, result } = port.lines;
    rows.push(["Control lines", vyn.text(`${wiring ?? "unknown wiring"}: checked ${checked.join(" ") || "none"}` +
      (failed.length ? `, failed ${failed.join(" ")}` : ", none failed"))]);
    rows.push(["Lines result", vyn.text(result)]);
  }
  return rows.map(([name, value]) => `<dt>${name}</dt><dd>${value}</dd>`).join("");
}

function errorData(data) {
  if (!data) return "No data error yet.";
  return data.bytes.map((byte, i) => {
    const hex = byte.toString(16).padStart(2, "0");
    return i === data.at ? `<span class="bad" title="the first character that did not fit">${hex}</span>` : hex;
  }).join(" ");
}

function render(rack) {
  const entry = rack.instances.find((i) => i.instance === instance);
  const port = entry && entry.ports.find((p) => p.port === portNumber);
  if (!port) {
    vyn.show(`No port ${portNumber} in instance ${instance}.`, true);
    return;
  }
  document.getElementById("summary").className = "view-" + port.view;
  document.querySelector("#summary dl").innerHTML = facts(port);
  const data = document.getElementById("error-data");
  data.innerHTML = errorData(port.errorData);
  data.classList.toggle("muted", !port.errorData);
  series[0].push((Date.now() - opened) / 1000);
  series[1].push(port.rate);
  series[2].push(port.avgRate);
  if (series[0].length > 600) series.forEach((s) => s.shift());
  chart.setData(series);
}

async function main() {
  await vyn.ready();
  document.getElementById("title").textContent = `${instance} port ${portNumber}`;
  document.getElementById("rack-link").href = "/" + vyn.hostQuery();
  chart = new uPlot({
    width: Math.min(900, document.getElementById("chart").clientWidth || 900),
    height: 260,
    scales: { x: { time: false } },
    axes: [{ label: "seconds" }, { label: "Baud", size: 70 }],
    series: [{ label: "s" }, { label: "rate", stroke: "#1f6fd1", width: 2 },
             { label: "average", stroke: "#1d8a3a", width: 1, dash: [6, 4] }],
  }, series, document.getElementById("chart"));
  vyn.watchRack(render);
}

main();
