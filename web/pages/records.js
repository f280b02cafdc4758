// The host's record of tests: its newest runs, each downloadable as JUnit XML, CSV or JSON.
"use strict";

function row(run) {
  const view = run.open ? "running" : run.passed === run.tests ? "passed" : "failed";
  const links = ["junit", "csv", "json"]
    .map((format) => `<a href="/api/runs?run=${run.id}&format=${format}" download>${format === "junit" ? "JUnit" : format.toUpperCase()}</a>`)
    .join(" · ");
  return `<tr class="view-${view}" id="run-${run.id}"><td class="num">${run.id}</td><td>${vyn.text(run.created)}</td>
    <td>${vyn.text(run.instance)}</td><td>${vyn.text(run.board)}</td><td>${vyn.text(run.operator)}</td>
    <td class="num">${run.tests}</td><td class="num">${run.passed}</td><td>${vyn.text(run.note)}</td><td>${links}</td></tr>`;
}

async function main() {
  await vyn.ready();
  const response = await fetch("/api/runs");
  if (!response.ok) {
    vyn.show((await response.text()).trim(), true);
    return;
  }
  const { runs } = await response.json();
  document.querySelector("#runs tbody").innerHTML = runs.map(row).join("");
  vyn.show(runs.length ? `The newest ${runs.length} runs.` : "No runs recorded yet.", false);
}

main();
