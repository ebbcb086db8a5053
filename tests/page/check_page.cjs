// SPDX-License-Identifier: GPL-3.0-or-later
// Opens the class page in Debian's Chromium (headless, through playwright-core; no browser is ever
// downloaded) and prints what it shows as JSON: the tiles, all groups' table and CSV, frames drawn a second.
// The page ships nothing for tests: its own top-level names (stations, frames, client, groupsTable,
// groupsChart) are read from outside, as a console would.
// node check_page.cjs <node_modules folder> <page url> <screenshot folder> <tiles expected>
'use strict';
const path = require('path');
const [modules, url, shots, expected] = process.argv.slice(2);
const { chromium } = require(path.join(modules, 'playwright-core'));

(async () => {
    const browser = await chromium.launch({
        executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
        args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'],
    });
    const out = {};
    try {
        const page = await browser.newPage({ viewport: { width: 1600, height: 1000 } });
        const messages = [];
        page.on('console', m => { if (m.type() === 'error') messages.push(m.text()); });
        page.on('pageerror', e => messages.push(String(e)));
        await page.goto(url);
        await page.waitForFunction(n => document.querySelectorAll('.tile').length >= n &&
            [...document.querySelectorAll('.tile .experiment')].every(v => v.textContent.trim() !== ''), Number(expected),
            { timeout: 20000 });
        // Frames drawn in a second while the live data flows.
        const before = await page.evaluate(() => frames);
        await page.waitForTimeout(1000);
        out.fps = (await page.evaluate(() => frames)) - before;
        out.tiles = await page.evaluate(() => [...document.querySelectorAll('.tile')].map(t => ({
            station: t.dataset.station, group: t.querySelector('.group').textContent,
            value: t.querySelector('.value').textContent, state: t.querySelector('.state').textContent,
            experiment: t.querySelector('.experiment').textContent,
        })));
        await page.screenshot({ path: path.join(shots, 'class-tiles.png') });
        await page.click('.tile');
        await page.waitForSelector('#large-runs li');
        out.large = await page.evaluate(() => ({
            runs: [...document.querySelectorAll('#large-runs li')].map(li => li.textContent),
            results: [...document.querySelectorAll('#large-results .result')].map(r => r.textContent),
        }));
        await page.screenshot({ path: path.join(shots, 'class-station.png') });
        await page.click('#large .close');
        await page.click('#all');
        await page.waitForSelector('#groups-table tr');
        out.groups = await page.evaluate(() => [...document.querySelectorAll('#groups-table tr')].map(
            tr => [...tr.cells].map(c => c.textContent)));
        out.csv = await page.evaluate(() => groupsTable.map(row => row.join(';')).join('\r\n'));
        out.series = await page.evaluate(() => (groupsChart ? groupsChart.series.length - 1 : 0));
        await page.screenshot({ path: path.join(shots, 'class-groups.png') });
        // The broker restarted by the test: the page is whole again by itself.
        await page.click('#groups .close');
        process.stdout.write('restart-now\n');
        await page.waitForFunction(() => !(client && client.connected), null, { timeout: 20000 });
        const lost = Date.now();
        // No runs and no sketch, as a page opened now; the live points drawn before the outage stay, as on a
        // page left open: the hole the outage made is to be filled.
        await page.evaluate(() => {
            for (const s of stations.values()) {
                s.runs.clear();
                s.current = null;
            }
        });
        // Whole: the runs of every station still in the lesson, and the run being recorded drawn from its start.
        await page.waitForFunction(n => (client && client.connected) &&
            [...stations.values()].filter(s => s.runs.size > 0 || s.online === false).length >= n &&
            [...stations.values()].some(s => s.current && s.chart.data[0].length &&
                                                          s.chart.data[0][0] === s.current.x[0]),
            Number(expected), { timeout: 30000 });
        out.whole = Date.now() - lost;
        out.liveFrom = await page.evaluate(() =>
            [...stations.values()].find(s => s.current).chart.data[0][0]);
        // The widest step of x in the run being recorded, once the station has sent on for a second.
        await page.waitForTimeout(1000);
        out.widestStep = await page.evaluate(() => {
            const x = [...stations.values()].find(s => s.current).chart.data[0];
            let widest = 0;
            for (let i = 1; i < x.length; i++) widest = Math.max(widest, x[i] - x[i - 1]);
            return widest;
        });
        out.tilesAfter = await page.evaluate(() => document.querySelectorAll('.tile').length);
        out.hooks = await page.evaluate(() => Object.keys(window).filter(k => /zorbinka/i.test(k)));
        out.errors = messages.filter(m => !/WebSocket|ERR_CONNECTION_REFUSED/.test(m));
    } finally {
        await browser.close();
    }
    process.stdout.write(JSON.stringify(out) + '\n');
})().catch(e => { process.stderr.write(String(e && e.stack || e)); process.exit(1); });
