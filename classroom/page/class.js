// SPDX-License-Identifier: GPL-3.0-or-later
// The class page: every station of the lesson as a tile that follows it live, a station's runs and results,
// and all groups' runs on one chart with a table of their fits. It reads the lesson's broker over WebSockets
// with the viewer code, from the broker that serves it; nothing else is fetched.
'use strict';

const COLOURS = ['#d62828', '#1f4f9a', '#2a9d3f', '#e67700', '#8c00aa', '#009696', '#8c5014', '#dc0096',
                 '#6e6e00', '#5a5a5a', '#0077b6', '#9d0208', '#588157', '#bc6c25', '#3a0ca3'];
const LIVE_POINTS = 2000; // of the run being recorded, per tile
// What a station ever sends, and more: a message beyond these is skipped whole, with a line in the console.
const LIMITS = {
    bytes: 1 << 20,        // a message
    livePoints: 5000,      // a live batch
    runPoints: 20000,      // a run's summary, the sketch of the run being recorded
    runs: 1000,            // runs kept of a station
    runNumber: 1e9,
    stations: 200,
    results: 2000,
    text: 200,             // a name or a caption
    line: 1000,            // a line of a result's text
    lines: 100,            // lines of a result's text
    parameters: 20,        // a fit's parameters
    magnitude: 1e12,       // a point's coordinate
};

const stations = new Map(); // id → station
let client = null;
let frames = 0; // drawn since the page opened

function number(value, digits = 4) {
    if (typeof value !== 'number' || !Number.isFinite(value)) return '—';
    // Very large and very small numbers as a power of ten, so that no cell grows with the exponent.
    const size = Math.abs(value);
    if (size !== 0 && (size >= 1e9 || size < 1e-4)) {
        const [mantissa, exponent] = value.toExponential(digits - 1).split('e');
        return `${Number(mantissa).toLocaleString('ru-RU', { maximumSignificantDigits: digits })}·10^${Number(exponent)}`;
    }
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
function errorDigits(error) {
    if (typeof error !== 'number' || !Number.isFinite(error) || error <= 0) return null;
    return Math.min(12, Math.max(0, 1 - Math.floor(Math.log10(error))));
}
function fixed(value, digits) {
    if (typeof value !== 'number' || !Number.isFinite(value)) return '—';
    if (digits === null || Math.abs(value) >= 1e9) return number(value);
    return value.toLocaleString('ru-RU', { minimumFractionDigits: digits, maximumFractionDigits: digits });
}
function withError(value, error) {
    const digits = errorDigits(error);
    if (digits === null) return number(value);
    return typeof value === 'number' && Number.isFinite(value) ? `${fixed(value, digits)} ± ${fixed(error, digits)}` : '—';
}

// The teacher's roll of the lesson: each station's group as the teacher took it (unique in the lesson); a
// station's own state may say another.
let roll = new Map();
const groupOf = s => roll.get(s.id) || s.state.group || s.id;

// Groups in the order a teacher counts them: «Группа 2» before «Группа 10».
function byGroup(a, b) {
    return String(groupOf(a)).localeCompare(String(groupOf(b)), 'ru', { numeric: true });
}

// The station's newest run, without spreading its numbers over the call stack.
function newestRun(s) {
    let newest = -Infinity;
    for (const n of s.runs.keys()) if (n > newest) newest = n;
    return s.runs.get(newest);
}

// The station of an id; none beyond the page's bound on stations.
function station(id) {
    let s = stations.get(id);
    if (s) return s;
    if (stations.size >= LIMITS.stations) return null;
    s = { id, state: {}, runs: new Map(), live: { run: 0, x: [], y: [] }, current: null,
          results: { lines: [], results: [] },
          colour: COLOURS[stations.size % COLOURS.length], dirty: true };
    stations.set(id, s);
    addTile(s);
    return s;
}

// ---- What the broker says.

// Each message is checked against what a station sends before anything of it is kept.
const isText = (v, length = LIMITS.text) => typeof v === 'string' && v.length <= length;
const isOptionalText = v => v === undefined || isText(v);
const isCoordinate = v => v === null || (typeof v === 'number' && Number.isFinite(v) && Math.abs(v) <= LIMITS.magnitude);
const isFiniteOrNull = v => v === null || (typeof v === 'number' && Number.isFinite(v));
function isPoints(d, limit) {
    return Array.isArray(d.x) && Array.isArray(d.y) && d.x.length === d.y.length && d.x.length <= limit &&
           d.x.every(isCoordinate) && d.y.every(isCoordinate);
}
const isRunNumber = v => Number.isInteger(v) && v >= 0 && v <= LIMITS.runNumber;
function isState(d) {
    return ['group', 'experiment', 'sensor', 'captionX', 'captionY'].every(k => isOptionalText(d[k])) &&
           (d.collecting === undefined || Object.hasOwn(STATES, d.collecting)) &&
           ['value', 'minX', 'maxX', 'minY', 'maxY'].every(k => d[k] === undefined || isFiniteOrNull(d[k])) &&
           (d.decimalsY === undefined || (Number.isInteger(d.decimalsY) && d.decimalsY >= 0 && d.decimalsY <= 10)) &&
           (d.runs === undefined || (Number.isInteger(d.runs) && d.runs >= 0));
}
function isResult(r) {
    if (!r || typeof r !== 'object' || !isOptionalText(r.kind) || !isOptionalText(r.model)) return false;
    if (r.text !== undefined && !(Array.isArray(r.text) && r.text.length <= LIMITS.lines &&
                                  r.text.every(l => isText(l, LIMITS.line)))) return false;
    if (r.kind !== 'Fit') return true;
    const list = (a, check) => Array.isArray(a) && a.length <= LIMITS.parameters && a.every(check);
    return list(r.names, v => isText(v)) && list(r.values, isFiniteOrNull) && list(r.errors, isFiniteOrNull) &&
           r.values.length === r.names.length && r.errors.length === r.names.length;
}
const CHECKS = {
    state: isState,
    live: d => isRunNumber(d.run) && isPoints(d, LIMITS.livePoints),
    current: d => isRunNumber(d.run) && isPoints(d, LIMITS.runPoints),
    link: d => typeof d.online === 'boolean',
    run: d => isPoints(d, LIMITS.runPoints) && isOptionalText(d.name) && isOptionalText(d.captionX) &&
              isOptionalText(d.captionY) && (d.points === undefined || (Number.isInteger(d.points) && d.points >= 0)),
    results: d => Array.isArray(d.results) && d.results.length <= LIMITS.results && d.results.every(isResult),
};

// One line in the console for a message skipped.
function skip(topic, why) {
    console.warn('skipped', topic.slice(0, 200), why);
}

function take(topic, payload) {
    try {
        takeChecked(topic, payload);
    } catch (e) {
        skip(topic, String(e));
    }
}

function takeRoll(topic, payload) {
    if (payload.length > LIMITS.bytes) return skip(topic, 'too large');
    let data;
    try { data = JSON.parse(new TextDecoder().decode(payload)); } catch (e) { return skip(topic, 'not JSON'); }
    const groups = data && data.groups;
    if (!groups || typeof groups !== 'object' || Array.isArray(groups) ||
        Object.keys(groups).length > LIMITS.stations ||
        !Object.entries(groups).every(([id, group]) => /^[A-Za-z0-9]{1,64}$/.test(id) && isText(group)))
        return skip(topic, 'not as the teacher sends it');
    const next = new Map(Object.entries(groups));
    // A station the teacher removed leaves the page.
    for (const id of roll.keys()) {
        const s = stations.get(id);
        if (!next.has(id) && s) { s.tile.remove(); s.chart.destroy(); stations.delete(id); }
    }
    roll = next;
    for (const s of stations.values()) s.dirty = true;
    orderDirty = groupsDirty = true;
}

function takeChecked(topic, payload) {
    const parts = topic.split('/');
    if (parts.length === 3 && parts[0] === 'zorbinka' && parts[2] === 'roll') return takeRoll(topic, payload);
    if (parts.length < 5 || parts[0] !== 'zorbinka' || parts[2] !== 'station') return;
    const id = parts[3], what = parts.slice(4).join('/');
    if (!/^[A-Za-z0-9_-]{1,64}$/.test(id)) return;
    if (payload.length > LIMITS.bytes) return skip(topic, 'too large');
    const text = new TextDecoder().decode(payload);
    const runTopic = /^run\/\d{1,10}$/.test(what);
    if (runTopic && Number(what.slice(4)) > LIMITS.runNumber) return skip(topic, 'run number');
    if (text === '' && runTopic) { // a run taken away
        const s = stations.get(id);
        if (s) { s.runs.delete(Number(what.slice(4))); s.dirty = true; }
        return;
    }
    if (text === '' && what === 'current') { // the run recorded has ended
        const s = stations.get(id);
        if (s) { s.current = null; s.dirty = true; }
        return;
    }
    const kind = runTopic ? 'run' : what;
    if (!Object.hasOwn(CHECKS, kind)) return;
    let data;
    try { data = JSON.parse(text); } catch (e) { return skip(topic, 'not JSON'); }
    if (!data || typeof data !== 'object' || Array.isArray(data) || !CHECKS[kind](data)) return skip(topic, 'not as a station sends it');
    const s = station(id);
    if (!s) return skip(topic, 'too many stations');
    if (kind === 'state') {
        if (s.state.group !== data.group) orderDirty = true;
        s.state = data;
    } else if (kind === 'live') {
        if (s.live.run !== data.run) s.live = { run: data.run, x: [], y: [] };
        // The newest points kept, appended one by one: a batch's size never reaches the call stack.
        const from = Math.max(0, data.x.length - LIVE_POINTS);
        for (let i = from; i < data.x.length; i++) {
            s.live.x.push(data.x[i]);
            s.live.y.push(data.y[i]);
        }
        if (s.live.x.length > LIVE_POINTS) {
            s.live.x.splice(0, s.live.x.length - LIVE_POINTS);
            s.live.y.splice(0, s.live.y.length - LIVE_POINTS);
        }
    } else if (kind === 'link') {
        s.online = data.online;
    } else if (kind === 'current') {
        s.current = data;
        // The sketch sent again after an outage covers what the live batches missed: the live points up to its
        // end give way to it, so that no hole stays in the curve.
        if (s.live.run === data.run && data.x.length) {
            const end = data.x[data.x.length - 1];
            let k = 0;
            while (k < s.live.x.length && s.live.x[k] <= end) k++;
            s.live.x.splice(0, k);
            s.live.y.splice(0, k);
        }
    } else if (kind === 'run') {
        const n = Number(what.slice(4));
        if (!s.runs.has(n) && s.runs.size >= LIMITS.runs) return skip(topic, 'too many runs');
        s.runs.set(n, data);
        groupsDirty = true;
    } else if (kind === 'results') {
        s.results = { lines: [], results: data.results };
        groupsDirty = true;
    }
    s.dirty = true;
}

// ---- Tiles.

function chart(element, width, height, captionX, captionY, series, legend = false) {
    return new uPlot({
        width, height, legend: { show: legend, live: false }, cursor: { show: false },
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
    t.querySelector('.group').textContent = groupOf(s);
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
        const newest = newestRun(s);
        x = newest.x; y = newest.y;
    }
    if (s.chart.axes[0].label !== st.captionX) {
        s.chart.axes[0].label = st.captionX || '';
        s.chart.axes[1].label = st.captionY || '';
    }
    s.chart.setData([x, y]);
}

let orderDirty = false;

// Whatever one station's data does to its drawing, the page goes on drawing the others.
function guarded(what, draw) {
    try {
        draw();
    } catch (e) {
        console.warn('not drawn:', what, String(e));
    }
}

function frame() {
    requestAnimationFrame(frame);
    frames++;
    if (orderDirty) {
        orderDirty = false;
        guarded('the order of the tiles', () => {
            const tiles = document.getElementById('tiles');
            for (const s of [...stations.values()].sort(byGroup)) tiles.appendChild(s.tile);
        });
    }
    for (const s of stations.values()) {
        if (!s.dirty) continue;
        s.dirty = false;
        guarded(s.id, () => drawTile(s));
        if (largeStation === s) guarded(s.id, drawLarge);
    }
    if (groupsDirty && !document.getElementById('groups').hidden) guarded('all groups', drawGroups);
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
    document.getElementById('large-title').textContent = groupOf(s) + ' — ' + (s.state.experiment || '');
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
        rows.push({ group: groupOf(s), fit: fits.length ? fits[fits.length - 1] : null });
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
                        list.map(s => ({ label: groupOf(s), stroke: s.colour, width: 2 })), true);
    if (list.length)
        groupsChart.setData(uPlot.join(list.map(s => {
            const run = newestRun(s);
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
    // The class's mean and spread to the places of the groups' own values.
    const places = names.map(() => null);
    for (const row of rows) {
        const cells = [row.group];
        names.forEach((n, k) => {
            const v = row.fit ? row.fit.values[k] : null;
            if (typeof v === 'number') columns[k].push(v);
            const digits = row.fit ? errorDigits(row.fit.errors[k]) : null;
            if (digits !== null) places[k] = Math.max(places[k] ?? 0, digits);
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
        const cells = [title, ...values.map((v, k) => fixed(v, places[k]))];
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
        // A keep-alive of 5 s: a broker that stalls is noticed within about 8.
        username: 'viewer', password: code, reconnectPeriod: 2000, keepalive: 5, clientId: 'page-' + Math.random().toString(16).slice(2, 10),
    });
    client.on('connect', () => {
        status.textContent = 'Подключено';
        status.classList.remove('lost');
        document.getElementById('login').hidden = true;
        client.subscribe(['zorbinka/+/station/+/#', 'zorbinka/+/roll'], { qos: 0 });
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
