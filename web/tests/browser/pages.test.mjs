// The rack and fleet pages in Debian's chromium (headless, driven by playwright-core) against a
// real vynloop-web, virtual board and agent, and private snmpd racks. Everything started here
// lives in a directory of its own and is ended by its process id.
//   VYNLOOP_BIN_DIR=build/bin WEB_FLEET_RIG=build/default/tests/web_fleet_rig node --test
// WEB_SCREENSHOT=FILE.png saves the rack page with four ports running, one of them failed.
import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import { spawn, execFileSync } from "node:child_process";
import { createServer } from "node:http";
import { mkdtempSync, mkdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { createInterface } from "node:readline";
import { chromium } from "playwright-core";

const bin = process.env.VYNLOOP_BIN_DIR || "build/bin";
const dir = mkdtempSync(join(tmpdir(), "vynbrowser."));
const env = {
  ...process.env,
  VYNLOOP_MIB: join(dir, "mib.db"),
  VYNLOOP_RUNDIR: join(dir, "run"),
  VYNLOOP_DEVDIR: join(dir, "dev"),
  VYNLOOP_AGENT: join(bin, "vynloop"),
  // Net-SNMP's configuration and state of the servers' SNMP sessions stay in the directory.
  SNMPCONFPATH: dir,
  SNMP_PERSISTENT_DIR: join(dir, "snmp"),
};
const started = [];  // every process started here, ended at the end
const agents = new Set();  // agents that the servers started on demand
let browser;

// Starts a program and resolves with it and the first line of its output that `ready` matches.
function launch(program, args, ready, options = {}) {
  const child = spawn(program, args, { env, stdio: ["pipe", "pipe", "inherit"], ...options });
  started.push(child);
  return new Promise((resolve, reject) => {
    const lines = [];
    const timer = setTimeout(() => reject(new Error(`${program} did not get ready: ${lines.join("\n")}`)), 60000);
    createInterface({ input: child.stdout }).on("line", (line) => {
      lines.push(line);
      const match = line.match(ready);
      if (match) {
        clearTimeout(timer);
        resolve({ child, match, lines });
      }
    });
    child.on("exit", (code) => reject(new Error(`${program} ended (${code}): ${lines.join("\n")}`)));
  });
}

function ctl(...args) {
  return execFileSync(join(bin, "vynloopctl"), args, { env, encoding: "utf8" });
}

function board(...args) {
  execFileSync(join(bin, "vynboard"), ["ctl", "--dir", env.VYNLOOP_DEVDIR, ...args], { env });
}

async function startWeb(extra) {
  const { match } = await launch(join(bin, "vynloop-web"), ["--port", "0", ...extra], /serving (\S+)/);
  return match[1];
}

async function newPage() {
  const page = await browser.newPage();
  page.on("response", async (response) => {
    if (/\/api\/(start|sweep)$/.test(response.url()) && response.ok()) {
      const body = await response.json().catch(() => ({}));
      if (body.agentStarted) agents.add(body.agentStarted);
    }
  });
  return page;
}

const row = (page, port) => page.locator(`#port-demo-${port}`);

let rackUrl;
let fleetHosts;

before(async () => {
  mkdirSync(env.VYNLOOP_DEVDIR);
  await launch(join(bin, "vynboard"), ["serve", "--dir", env.VYNLOOP_DEVDIR, "--ports", "4"], /ready/);
  ctl("init", "demo", "1=COM1", "2=COM2", "3=COM3", "4=COM4");
  for (const port of ["COM1", "COM2", "COM3", "COM4"]) board(port, "plug=loop");
  const rig = await launch(process.env.WEB_FLEET_RIG, ["2"], /^ready$/);
  fleetHosts = rig.lines.filter((l) => /^(rack|down) /.test(l)).map((l) => l.split(" ")[1]);
  writeFileSync(join(dir, "racks.txt"), "# the fleet\n" + fleetHosts.join("\n") + "\n");
  rackUrl = await startWeb(["--hosts-file", join(dir, "racks.txt"), "-v", "2c", "-c", "public", "-t", "1", "-r", "0"]);
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    args: ["--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"],
  });
});

after(async () => {
  await browser?.close();
  for (const child of started.reverse()) {
    child.stdin?.end();
    if (child.exitCode === null) child.kill("SIGTERM");
  }
  for (const pid of agents) {
    try { process.kill(pid, "SIGKILL"); } catch { /* already gone */ }
  }
  await new Promise((resolve) => setTimeout(resolve, 200));
  rmSync(dir, { recursive: true, force: true });
});

describe("the rack page", () => {
  test("runs four ports live and shows a faulty one red with its text", async () => {
    board("COM3", "corrupt=500");
    const page = await newPage();
    await page.goto(rackUrl);
    await assert.doesNotReject(row(page, 4).waitFor());
    assert.equal(await page.locator("#ports tbody tr").count(), 4);
    assert.equal(await row(page, 1).getAttribute("data-view"), "idle");

    await page.check("#select-all");
    await page.fill("input[name=time]", "6");
    await page.fill("input[name=speed]", "115200");
    await page.fill("input[name=stop-on-errors]", "5");
    await page.selectOption("select[name=loop]", "external");
    await page.click("#start");
    await page.waitForSelector("#port-demo-1[data-view=running]");
    await page.waitForFunction(() => /\d+ s left/.test(document.querySelector("#port-demo-2 .progress").textContent));
    await assert.doesNotReject(page.locator("#message").filter({ hasText: "Started demo 1, 2, 3, 4" }).waitFor());
    // The counters grow without a reload.
    const sent = async () => Number((await row(page, 2).locator(".sent").textContent()).replace(/,/g, ""));
    await page.waitForFunction(() => Number(document.querySelector("#port-demo-2 .sent").textContent.replace(/,/g, "")) > 0);
    const first = await sent();
    await page.waitForFunction((before) => Number(document.querySelector("#port-demo-2 .sent").textContent.replace(/,/g, "")) > before, first);

    await page.waitForSelector("#port-demo-3[data-view=failed]", { timeout: 20000 });
    assert.match(await row(page, 3).locator(".result").textContent(), /error/);
    if (process.env.WEB_SCREENSHOT) {
      await page.setViewportSize({ width: 1500, height: 420 });
      await page.screenshot({ path: process.env.WEB_SCREENSHOT, fullPage: true });
    }
    assert.match(await row(page, 3).locator(".kinds").textContent(), /corrupted/);
    const colour = await row(page, 3).locator(".badge").evaluate((badge) => getComputedStyle(badge).backgroundColor);
    assert.equal(colour, "rgb(198, 40, 40)");
    for (const port of [1, 2, 4]) {
      await page.waitForSelector(`#port-demo-${port}[data-view=passed]`, { timeout: 20000 });
    }
    board("COM3", "corrupt=0");
    await page.close();
  });

  test("stops a test and charts a port's rate", async () => {
    const page = await newPage();
    await page.goto(rackUrl);
    await row(page, 1).locator(".pick").check();
    await page.fill("input[name=time]", "0");
    await page.click("#start");
    await page.waitForSelector("#port-demo-1[data-view=running]");

    const chart = await newPage();
    await chart.goto(rackUrl + "port.html?instance=demo&port=1");
    await chart.waitForSelector("#chart canvas");
    await chart.waitForFunction(() => /[1-9]/.test(document.querySelector("#summary dl").textContent.match(/Rate \/ average(.*)/)?.[1] || ""));
    await chart.close();

    await page.click("#stop");
    await page.waitForSelector("#port-demo-1[data-view=stopped]", { timeout: 20000 });
    assert.match(await page.locator("#message").textContent(), /Stopping demo 1/);
    await page.close();
  });

  test("refuses a start with the console's words", async () => {
    const page = await newPage();
    await page.goto(rackUrl);
    await row(page, 2).locator(".pick").check();
    await page.fill("input[name=speed]", "0");
    await page.click("#start");
    await page.waitForSelector("#message.error");
    assert.match(await page.locator("#message").textContent(), /--speed: Value 0 not in range/);
    await page.close();
  });
});

describe("a sweep", () => {
  test("runs two steps on two ports from the page and is found in the records", async () => {
    const page = await newPage();
    await page.goto(rackUrl);
    await row(page, 1).locator(".pick").check();
    await row(page, 2).locator(".pick").check();
    await page.fill("input[name=time]", "1");
    await page.selectOption("select[name=loop]", "internal");
    await page.fill("input[name=speeds]", "115200");
    await page.fill("input[name=frames]", "8N1,7E1");
    await page.fill("input[name=operator]", "sweeper");
    await page.click("#sweep-start");
    await assert.doesNotReject(page.locator("#message").filter({ hasText: "2 steps" }).waitFor());
    await page.waitForSelector("#sweep-progress[data-state=passed]", { timeout: 30000 });
    assert.equal(await page.locator("#sweep-matrix td.cell-pass").count(), 4);
    const link = page.locator("#sweep-line a", { hasText: /^run \d+$/ });
    const run = (await link.textContent()).split(" ")[1];
    await link.click();
    await page.waitForSelector(`#run-${run}`);
    assert.match(await page.locator(`#run-${run}`).textContent(), /sweeper/);
    await page.close();
  });
});

describe("the records page", () => {
  test("lists the runs and downloads one as JUnit", async () => {
    const page = await newPage();
    await page.goto(rackUrl + "records.html");
    await page.waitForSelector("#runs tbody tr");
    const downloading = page.waitForEvent("download");
    await page.locator("#runs tbody tr").first().locator("a", { hasText: "JUnit" }).click();
    const download = await downloading;
    assert.match(download.suggestedFilename(), /^run-\d+\.xml$/);
    const path = join(dir, download.suggestedFilename());
    await download.saveAs(path);
    assert.match(readFileSync(path, "utf8"), /<testsuite/);
    await page.close();
  });
});

describe("the fleet page", () => {
  test("lists every rack, the one that is down with its reason, and opens a rack", async () => {
    const page = await newPage();
    await page.goto(rackUrl + "fleet.html");
    await page.waitForSelector("#racks tbody tr >> nth=2");
    const down = page.locator(`tr[data-host="${fleetHosts[2]}"]`);
    assert.match(await down.textContent(), /unreachable/);
    assert.match(await down.locator(".reason").textContent(), /no answer from .* \(time-out\)/);
    const up = page.locator(`tr[data-host="${fleetHosts[0]}"]`);
    assert.match(await up.textContent(), /reachable/);
    await up.locator("a").click();
    await page.waitForSelector("#port-rack0-2");
    assert.equal(await page.locator("#ports tbody tr").count(), 2);
    await page.close();
  });
});

describe("safety", () => {
  test("a wrong password is refused and the right one lets in", async () => {
    const users = join(dir, "users");
    const line = execFileSync(join(bin, "vynloop-web"), ["--hash-password", "ann"], { input: "right pw\n", encoding: "utf8" });
    writeFileSync(users, line);
    const url = await startWeb(["--credentials", users]);
    const page = await newPage();
    await page.goto(url);
    await page.fill("input[name=user]", "ann");
    await page.fill("input[name=password]", "wrong pw");
    await page.click("#login button");
    await page.waitForSelector(".login-error:text('wrong user name or password')");
    assert.equal(await page.locator("#ports tbody tr").count(), 0);
    await page.fill("input[name=password]", "right pw");
    await page.click("#login button");
    await page.waitForSelector("#port-demo-4");
    await page.close();
  });

  test("a page of another site cannot start a test", async () => {
    const other = createServer((request, response) => {
      response.setHeader("Content-Type", "text/html");
      response.end(`<form method="post" action="${rackUrl}api/start" enctype="text/plain">
        <input name='{"instance":"demo","ports":[4],"x":"' value='"}'></form>
        <script>document.forms[0].submit()</script>`);
    });
    await new Promise((resolve) => other.listen(0, "127.0.0.1", resolve));
    const portFour = () => JSON.parse(ctl("status", "demo", "--json")).ports.find((p) => p.port === 4);
    const before = portFour();
    const page = await newPage();
    const refused = page.waitForResponse((r) => r.url().endsWith("/api/start"));
    await page.goto(`http://127.0.0.1:${other.address().port}/`);
    const response = await refused;
    assert.equal(response.status(), 403);
    assert.match(await response.text(), /cross-site request refused/);
    assert.deepEqual(portFour(), before);
    await page.close();
    other.close();
  });
});
