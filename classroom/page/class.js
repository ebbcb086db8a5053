// SPDX-License-Identifier: GPL-3.0-or-later
// The class page: every station of the lesson as a tile that follows it live, a station's runs and results,
// and all groups' runs on one chart with a table of their fits. It reads the lesson's broker over WebSockets
// with the viewer code, from the broker that serves it; nothing else is fetched.
'use strict';

const COLOURS = ['#d62828', '#1f4f9a', '#2a9d3f', '#e67700', '#8c00aa', '#009696', '#8c5014', '#dc0096',
                 '#6e6e00', '#5a5a5a', '#0077b6', '#9d0208', '#588157', '#bc6c25', '#3a0ca3'];
const LIVE_POINTS = 2000; // of the run being recorded, per tile

const stations = new Map(); // id → station
let client = null;
let frames = 0; // drawn since the page opened

function number(value, digits = 4) {
    if (typeof value !== 'number' || !Number.isFinite(value)) return '—';
    return value.toLocaleString('ru-RU', { maximumSignificantDigits: digits });
}

// A measured value with the places its experiment shows it with ("25,0"), where the station says them.
function measured(value, decimals) {
    if (typeof value !== 'number' || !Number.isFinite(value)) return '—';
    // Without them, four significant digits, trailing zeros kept: the digits stay put as the value changes.
    if (!Number.isInteger(decimals) || decimals < 0 || decimals > 10)
        return value.toLocaleString('ru-RU', { minimumSignificantDigits: 4, maximumSignificantDigits: 4 });
    return value.toLocaleString('ru-RU', { minimumFractionDigits: decimals, maximumFractionDigits: decimals });
}

// "48,013 ± 0,005": the value to the place of the error's second significant digit.
function withError(value, error) {
    if (typeof error !== 'number' || !Number.isFinite(error) || error <= 0) return number(value);
    const digits = Math.min(12, Math.max(0, 1 - Math.floor(Math.log10(error))));
    const format = v => v.toLocaleString('ru-RU', { minimumFractionDigits: digits, maximumFractionDigits: digits });
    return typeof value === 'number' && Number.isFinite(value) ? `${format(value)} ± ${format(error)}` : '—';
}

// Groups in the order a teacher counts them: «Группа 2» before «Группа 10».
function byGroup(a, b) {
    return (a.state.group || a.id).localeCompare(b.state.group || b.id, 'ru', { numeric: true });
}

function station(id) {
    let s = stations.get(id);
    if (s) return s;
    s = { id, state: {}, runs: new Map(), live: { run: 0, x: [], y: [] }, current: null,
          results: { lines: [], results: [] },
          colour: COLOURS[stations.size % COLOURS.length], dirty: true };
    stations.set(id, s);
    addTile(s);
    return s;
}

// ---- What the broker says.

function isNumbers(a) { return Array.isArray(a) && a.every(v => v === null || typeof v === 'number'); }

function take(topic, payload) {
    const parts = topic.split('/');
    if (parts.length < 5 || parts[0] !== 'zorbinka' || parts[2] !== 'station') return;
    const id = parts[3], what = parts.slice(4).join('/');
    if (!/^[A-Za-z0-9_-]{1,64}$/.test(id)) return;
    const text = new TextDecoder().decode(payload);
    if (text === '' && what.startsWith('run/')) { // a run taken away
        const s = stations.get(id);
        if (s) { s.runs.delete(Number(what.slice(4))); s.dirty = true; }
        return;
    }
    if (text === '' && what === 'current') { // the run recorded has ended
        const s = stations.get(id);
        if (s) { s.current = null; s.dirty = true; }
        return;
    }
    let data;
    try { data = JSON.parse(text); } catch (e) { console.warn('skipped', topic); return; }
    if (!data || typeof data !== 'object') return;
    if (what === 'state') {
        const s = station(id);
        if (s.state.group !== data.group) orderDirty = true;
        s.state = data;
        s.dirty = true;
    } else if (what === 'live') {
        if (!Number.isInteger(data.run) || !isNumbers(data.x) || !isNumbers(data.y) || data.x.length !== data.y.length) return;
        const s = station(id);
        if (s.live.run !== data.run) s.live = { run: data.run, x: [], y: [] };
        s.live.x.push(...data.x);
        s.live.y.push(...data.y);
        if (s.live.x.length > LIVE_POINTS) {
            s.live.x.splice(0, s.live.x.length - LIVE_POINTS);
            s.live.y.splice(0, s.live.y.length - LIVE_POINTS);
        }
        s.dirty = true;
    } else if (what === 'link') {
        if (typeof data.online !== 'boolean') return;
        const s = station(id);
        s.online = data.online;
        s.dirty = true;
    } else if (what === 'current') {
        if (!Number.isInteger(data.run) || !isNumbers(data.x) || !isNumbers(data.y) || data.x.length !== data.y.length) return;
        const s = station(id);
        s.current = data;
        s.dirty = true;
    } else if (/^run\/\d+$/.test(what)) {
        if (!isNumbers(data.x) || !isNumbers(data.y) || data.x.length !== data.y.length) return;
        const s = station(id);
        s.runs.set(Number(what.slice(4)), data);
        s.dirty = true;
        groupsDirty = true;
    } else if (what === 'results') {
        if (!Array.isArray(data.results)) return;
        const s = station(id);
        s.results = data;
        s.dirty = true;
        groupsDirty = true;
    }
}

// ---- Tiles.

function chart(element, width, height, captionX, captionY, series) {
    return new uPlot({
        width, height, legend: { show: false }, cursor: { show: false },
        scales: { x: { time: false } },
        axes: [{ label: captionX, size: 30 }, { label: captionY, size: 44 }],
        series: [{}, ...series.map(s => ({ points: { show: false }, ...s }))],
    }, [[], ...series.map(() => [])], element);
}

function addTile(s) {
    const tile = document.createElement('div');
    tile.className = 'tile';
    tile.dataset.station = s.id;
    tile.innerHTML = '<span class="state"></span><div class="group"></div><div class="experiment"></div>' +
                     '<div class="value"></div><div class="chart"></div>';
    tile.addEventListener('click', () => openLarge(s));
    const tiles = document.getElementById('tiles');
    tiles.appendChild(tile);
    s.tile = tile;
    s.chart = chart(tile.querySelector('.chart'), tileChartWidth(tile), 150, '', '', [{ stroke: s.colour, width: 2 }]);
    document.getElementById('all').disabled = false;
}

// The tile's chart as wide as the tile's inside.
function tileChartWidth(tile) {
    return Math.max(200, Math.floor(tile.clientWidth - 20));
}

window.addEventListener('resize', () => {
    for (const s of stations.values()) s.chart.setSize({ width: tileChartWidth(s.tile), height: 150 });
});

const STATES = { idle: 'между опытами', countdown: 'отсчёт', waiting: 'ожидание запуска', recording: 'идёт опыт' };

function drawTile(s) {
    const t = s.tile, st = s.state;
    t.querySelector('.group').textContent = st.group || s.id;
    t.querySelector('.experiment').textContent = st.experiment || '';
    const state = t.querySelector('.state');
    // A station gone (left the lesson, or its computer off) keeps its tile, said to be without link.
    const gone = s.online === false;
    state.textContent = gone ? 'нет связи' : STATES[st.collecting] || '';
    state.className = 'state ' + (gone ? 'gone' : st.collecting || '');
    t.querySelector('.value').innerHTML = '';
    const value = document.createElement('span');
    value.textContent = measured(st.value, st.decimalsY);
    const caption = document.createElement('span');
    caption.className = 'caption';
    caption.textContent = ' ' + (st.captionY || '');
    t.querySelector('.value').append(value, caption);
    // The run being recorded from its start (its sketch up to the points heard live), else the newest run.
    let x = s.live.x, y = s.live.y;
    const c = s.current;
    if (c && c.x.length && (!x.length || c.run === s.live.run)) {
        const before = x.length ? c.x.findIndex(v => v >= x[0]) : -1;
        const end = before < 0 ? c.x.length : before;
        x = c.x.slice(0, end).concat(x);
        y = c.y.slice(0, end).concat(y);
    }
    if (st.collecting !== 'recording' && s.runs.size) {
        const newest = s.runs.get(Math.max(...s.runs.keys()));
        x = newest.x; y = newest.y;
    }
    if (s.chart.axes[0].label !== st.captionX) {
        s.chart.axes[0].label = st.captionX || '';
        s.chart.axes[1].label = st.captionY || '';
    }
    s.chart.setData([x, y]);
}

let orderDirty = false;

function frame() {
    frames++;
    if (orderDirty) {
        orderDirty = false;
        const tiles = document.getElementById('tiles');
        for (const s of [...stations.values()].sort(byGroup)) tiles.appendChild(s.tile);
    }
    for (const s of stations.values()) {
        if (!s.dirty) continue;
        s.dirty = false;
        drawTile(s);
        if (largeStation === s) drawLarge();
    }
    if (groupsDirty && !document.getElementById('groups').hidden) drawGroups();
    requestAnimationFrame(frame);
}

// ---- A station large: its runs and results.

let largeStation = null, largeChart = null;

function openLarge(s) {
    largeStation = s;
    document.getElementById('large').hidden = false;
    drawLarge();
}

function drawLarge() {
    const s = largeStation;
    document.getElementById('large-title').textContent = (s.state.group || s.id) + ' — ' + (s.state.experiment || '');
    const element = document.getElementById('large-chart');
    const numbers = [...s.runs.keys()].sort((a, b) => a - b);
    if (largeChart) largeChart.destroy();
    const series = numbers.map((n, i) => ({ label: s.runs.get(n).name, stroke: COLOURS[i % COLOURS.length], width: 2 }));
    largeChart = chart(element, Math.min(1100, window.innerWidth * 0.85), 380, s.state.captionX, s.state.captionY,
                       series);
    if (numbers.length) largeChart.setData(uPlot.join(numbers.map(n => [s.runs.get(n).x, s.runs.get(n).y])));
    const runs = document.getElementById('large-runs');
    runs.innerHTML = '';
    for (const n of numbers) {
        const li = document.createElement('li');
        li.textContent = `${s.runs.get(n).name}: ${s.runs.get(n).points.toLocaleString('ru-RU')} точек`;
        runs.appendChild(li);
    }
    const results = document.getElementById('large-results');
    results.innerHTML = '';
    for (const r of s.results.results) {
        const div = document.createElement('div');
        div.className = 'result';
        div.textContent = (Array.isArray(r.text) ? r.text : []).join('\n');
        results.appendChild(div);
    }
}

// ---- All groups.

let groupsDirty = true, groupsChart = null, groupsTable = [];

// The fit most groups made, and each group's newest result of it.
function groupFits() {
    const count = new Map();
    for (const s of stations.values())
        for (const r of s.results.results) if (r.kind === 'Fit') count.set(r.model, (count.get(r.model) || 0) + 1);
    let model = null;
    for (const [m, c] of count) if (!model || c > count.get(model)) model = m;
    const rows = [];
    for (const s of [...stations.values()].sort(byGroup)) {
        const fits = s.results.results.filter(r => r.kind === 'Fit' && r.model === model);
        rows.push({ group: s.state.group || s.id, fit: fits.length ? fits[fits.length - 1] : null });
    }
    return { model, rows };
}

function drawGroups() {
    groupsDirty = false;
    const list = [...stations.values()].filter(s => s.runs.size).sort(byGroup);
    const element = document.getElementById('groups-chart');
    if (groupsChart) groupsChart.destroy();
    const first = list[0] ? list[0].state : {};
    groupsChart = chart(element, Math.min(1100, window.innerWidth * 0.85), 400, first.captionX, first.captionY,
                        list.map(s => ({ label: s.state.group || s.id, stroke: s.colour, width: 2 })));
    if (list.length)
        groupsChart.setData(uPlot.join(list.map(s => {
            const run = s.runs.get(Math.max(...s.runs.keys()));
            return [run.x, run.y];
        })));
    const { model, rows } = groupFits();
    const table = document.getElementById('groups-table');
    table.innerHTML = '';
    groupsTable = [];
    const names = (rows.find(r => r.fit) || { fit: { names: [] } }).fit.names;
    const head = ['Группа', ...names.map(n => `${n} (${model})`)];
    groupsTable.push(head);
    const tr = table.insertRow();
    for (const h of head) { const th = document.createElement('th'); th.textContent = h; tr.appendChild(th); }
    const columns = names.map(() => []);
    for (const row of rows) {
        const cells = [row.group];
        names.forEach((n, k) => {
            const v = row.fit ? row.fit.values[k] : null;
            if (typeof v === 'number') columns[k].push(v);
            cells.push(row.fit ? withError(v, row.fit.errors[k]) : '—');
        });
        groupsTable.push(cells);
        const r = table.insertRow();
        for (const c of cells) r.insertCell().textContent = c;
    }
    const mean = columns.map(c => c.reduce((a, b) => a + b, 0) / (c.length || 1));
    const spread = columns.map((c, k) => c.length > 1 ? Math.sqrt(c.reduce((a, b) => a + (b - mean[k]) ** 2, 0) / (c.length - 1)) : NaN);
    for (const [title, values] of [['Среднее по классу', mean], ['Разброс (СКО)', spread]]) {
        const r = table.insertRow();
        r.className = 'summary';
        const cells = [title, ...values.map(v => number(v))];
        groupsTable.push(cells);
        for (const c of cells) r.insertCell().textContent = c;
    }
}

function csv() {
    const text = groupsTable.map(row => row.map(c => /[;"\n]/.test(c) ? '"' + c.replace(/"/g, '""') + '"' : c).join(';')).join('\r\n');
    const a = document.createElement('a');
    a.href = URL.createObjectURL(new Blob(['\ufeff' + text], { type: 'text/csv' }));
    a.download = 'группы.csv';
    a.click();
}

// ---- The connection.

function connect(code) {
    const status = document.getElementById('status');
    client = mqtt.connect(`${location.protocol === 'https:' ? 'wss' : 'ws'}://${location.host}/`, {
        username: 'viewer', password: code, reconnectPeriod: 2000, clientId: 'page-' + Math.random().toString(16).slice(2, 10),
    });
    client.on('connect', () => {
        status.textContent = 'Подключено';
        status.classList.remove('lost');
        document.getElementById('login').hidden = true;
        client.subscribe('zorbinka/+/station/+/#', { qos: 0 });
    });
    client.on('close', () => {
        status.textContent = 'Нет связи с сервером урока';
        status.classList.add('lost');
    });
    client.on('error', error => {
        if (/authori|Bad User|password/i.test(String(error && error.message))) {
            client.end(true);
            document.getElementById('login').hidden = false;
            document.getElementById('refused').hidden = false;
        }
    });
    client.on('message', (topic, payload) => take(topic, payload));
}

document.getElementById('all').addEventListener('click', () => {
    document.getElementById('groups').hidden = false;
    drawGroups();
});
for (const button of document.querySelectorAll('.overlay .close'))
    button.addEventListener('click', () => { button.closest('.overlay').hidden = true; largeStation = null; });
document.getElementById('csv').addEventListener('click', csv);
document.getElementById('login').addEventListener('submit', event => {
    event.preventDefault();
    connect(document.getElementById('code').value.trim().toUpperCase());
});
const given = new URLSearchParams(location.hash.slice(1)).get('code');
if (given) connect(given.toUpperCase()); else document.getElementById('login').hidden = false;
requestAnimationFrame(frame);
