// The fleet page: a row per rack with its totals; a rack that cannot be read shows why.
"use strict";

function row(rack) {
  const link = `<a href="/?host=${encodeURIComponent(rack.host)}">${vyn.text(rack.host)}</a>`;
  if (!rack.reachable) {
    return `<tr class="view-failed" data-host="${vyn.text(rack.host)}"><td>${link}</td>
      <td class="state"><span class="badge">unreachable</span> <span class="reason">${vyn.text(rack.error)}</span></td>
      <td colspan="7"></td></tr>`;
  }
  const t = rack.totals;
  const view = t.failed ? "failed" : t.running ? "running" : t.passed ? "passed" : "idle";
  const cells = [rack.instances, t.ports, t.running, t.passed, t.failed, t.stopped, t.idle]
    .map((n) => `<td class="num">${n}</td>`).join("");
  return `<tr class="view-${view}" data-host="${vyn.text(rack.host)}"><td>${link}</td>
    <td class="state"><span class="badge">${view === "idle" ? "reachable" : view}</span></td>${cells}</tr>`;
}

async function refresh() {
  const response = await fetch("/api/fleet");
  if (!response.ok) {
    vyn.show((await response.text()).trim(), true);
    return;
  }
  const fleet = await response.json();
  document.querySelector("#racks tbody").innerHTML = fleet.racks.map(row).join("");
  vyn.show(fleet.racks.length ? "Read at " + new Date().toLocaleTimeString() + "." :
           "No racks: start vynloop-web with --hosts-file.", false);
}

async function main() {
  await vyn.ready();
  await refresh();
  setInterval(refresh, 3000);
}

main();
