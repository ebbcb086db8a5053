// SPDX-License-Identifier: GPL-3.0-or-later
// Tries to log in to a broker's WebSocket listener as the class page does (mqtt.js), and prints "connected"
// or "refused".
// node check_login.cjs <node_modules folder> <ws url> <user> <password>
'use strict';
const path = require('path');
const [modules, url, username, password] = process.argv.slice(2);
const mqtt = require(path.join(modules, 'mqtt'));

const client = mqtt.connect(url, { username, password, reconnectPeriod: 0, connectTimeout: 10000 });
const end = said => {
    process.stdout.write(said + '\n');
    client.end(true, () => process.exit(0));
};
client.on('connect', () => end('connected'));
client.on('error', () => end('refused'));
client.on('close', () => end('refused'));
