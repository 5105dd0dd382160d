// The Linux side of the SOAP peer for tests that run under wine: listens on a
// port of 127.0.0.1 (printed as "PORT n" on its first line) and, for each
// connection of the node stand-in (node_relay.cpp), reads one line
// {"args": [...], "cwd": "..."}, starts the real node with those arguments
// (Windows paths of wine's drive Z: turned back into Linux paths) and relays
// the connection to node's standard input and node's standard output back.
// Ends when its own standard input closes.
'use strict';
const net = require('net');
const { spawn } = require('child_process');

function linuxPath(text) {
    const m = /^[A-Za-z]:\\/.exec(text);
    if (!m || text[0].toUpperCase() !== 'Z')
        return text;
    return text.slice(2).replace(/\\/g, '/');
}

const server = net.createServer((socket) => {
    let head = Buffer.alloc(0);
    let child = null;
    socket.on('data', (chunk) => {
        if (child) {
            child.stdin.write(chunk);
            return;
        }
        head = Buffer.concat([head, chunk]);
        const end = head.indexOf(10);
        if (end < 0)
            return;
        let request;
        try {
            request = JSON.parse(head.subarray(0, end).toString('utf8'));
        } catch (error) {
            socket.destroy();
            return;
        }
        const args = request.args.map(linuxPath);
        child = spawn(process.execPath, args, { cwd: linuxPath(request.cwd), stdio: 'pipe' });
        child.stdout.pipe(socket);
        child.stderr.pipe(process.stderr);
        child.on('close', () => socket.end());
        child.on('error', () => socket.destroy());
        const rest = head.subarray(end + 1);
        if (rest.length)
            child.stdin.write(rest);
    });
    socket.on('end', () => { if (child) child.stdin.end(); });
    socket.on('error', () => { if (child) child.kill(); });
});

server.listen(0, '127.0.0.1', () => {
    process.stdout.write('PORT ' + server.address().port + '\n');
});
process.stdin.on('end', () => process.exit(0));
process.stdin.resume();
