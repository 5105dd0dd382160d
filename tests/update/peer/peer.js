'use strict';
// SOAP peer of the update tests. It serves kvd_application_run and
// kvd_application_getupdate from kvd.wsdl with the npm package "soap" at
// /scripts/kvd_services.php on 127.0.0.1, on the port given as the first
// argument (0 or none: a free one). Beside it, under /bad/<mode>, plain HTTP
// handlers answer the way a broken server would.
//
// Talk to it through stdin and stdout, one JSON object a line:
//   stdout "PORT <n>"                        once it listens
//   stdin  {"cmd":"reply","op":"run","text":"OK"}          sets an operation's result
//   stdin  {"cmd":"fault","op":"run","faultcode":"..","faultstring":".."}  makes it fail
//   stdout {"ack":<cmd>}                     after each command took effect
//   stdout {"recv":{...}}                    for every SOAP request received: path,
//          SOAPAction and content type headers, the raw XML, the operation and the
//          arguments as the soap package parsed them

const fs = require('fs');
const http = require('http');
const path = require('path');
const readline = require('readline');
const soap = require('soap');

const replies = {
    kvd_application_run: { text: 'OK' },
    kvd_application_getupdate: { text: 'OK;1.0.0.0;none' },
};
const opNames = { run: 'kvd_application_run', getupdate: 'kvd_application_getupdate' };

function emit(obj) {
    process.stdout.write(JSON.stringify(obj) + '\n');
}

// The request being answered, so the operation handlers can record it together
// with its headers and raw XML.
let lastReceived = null;

function answer(op, args) {
    const r = replies[op];
    if (lastReceived) {
        lastReceived.operation = op;
        // Each argument as its text and, where the request named one, its xsi:type.
        lastReceived.args = {};
        lastReceived.types = {};
        for (const [name, value] of Object.entries(args || {})) {
            const isObject = value !== null && typeof value === 'object';
            lastReceived.args[name] = isObject ? String(value.$value ?? '') : String(value);
            if (isObject && value.attributes)
                lastReceived.types[name] = value.attributes['xsi:type'];
        }
        emit({ recv: lastReceived });
        lastReceived = null;
    }
    if (r.fault) {
        throw { Fault: { faultcode: r.fault.faultcode, faultstring: r.fault.faultstring,
            statusCode: 500 } };
    }
    return { return: r.text };
}

const service = {
    KVDservice: {
        KVDPort: {
            kvd_application_run: (args) => answer('kvd_application_run', args),
            kvd_application_getupdate: (args) => answer('kvd_application_getupdate', args),
        },
    },
};

const envelopeStart =
    '<?xml version="1.0" encoding="utf-8"?>' +
    '<SOAP-ENV:Envelope xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/"' +
    ' xmlns:xsd="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">' +
    '<SOAP-ENV:Body>';
const envelopeEnd = '</SOAP-ENV:Body></SOAP-ENV:Envelope>';

function response(result) {
    return envelopeStart +
        '<NS1:kvd_application_runResponse xmlns:NS1="urn:KVDIntf-KVD">' +
        '<return xsi:type="xsd:string">' + result + '</return>' +
        '</NS1:kvd_application_runResponse>' + envelopeEnd;
}

// The broken servers. Each takes the request and its response.
const bad = {
    notxml: (req, res) => {
        res.writeHead(200, { 'Content-Type': 'text/xml' });
        res.end('this is not XML at all');
    },
    truncated: (req, res) => {
        const full = response('OK');
        res.writeHead(200, { 'Content-Type': 'text/xml' });
        res.end(full.slice(0, full.length - 30));
    },
    fault500: (req, res) => {
        res.writeHead(500, { 'Content-Type': 'text/xml' });
        res.end(envelopeStart + '<SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode>' +
            '<faultstring>Application kvd_bexo is unknown</faultstring></SOAP-ENV:Fault>' + envelopeEnd);
    },
    html500: (req, res) => {
        res.writeHead(500, { 'Content-Type': 'text/html' });
        res.end('<!DOCTYPE html><html><head><title>500 Internal Server Error</title></head>' +
            '<body><h1>Internal Server Error</h1><p>The server is on fire.</p></body></html>');
    },
    html200: (req, res) => {
        res.writeHead(200, { 'Content-Type': 'text/html' });
        res.end('<html><body><p>Welcome to our web site</p></body></html>');
    },
    notfound: (req, res) => {
        res.writeHead(404, { 'Content-Type': 'text/plain' });
        res.end('Not Found');
    },
    // Eight megabytes of a well-formed reply, sent in chunks without a length.
    huge: (req, res) => {
        res.writeHead(200, { 'Content-Type': 'text/xml' });
        res.write(envelopeStart + '<NS1:r xmlns:NS1="urn:KVDIntf-KVD"><return>');
        const chunk = 'A'.repeat(65536);
        let left = 128;
        const more = () => {
            while (left > 0) {
                left--;
                if (!res.write(chunk)) {
                    res.once('drain', more);
                    return;
                }
            }
            res.end('</return></NS1:r>' + envelopeEnd);
        };
        res.on('error', () => {});
        more();
    },
    // The same with a Content-Length announcing it.
    hugelength: (req, res) => {
        const body = envelopeStart + '<NS1:r xmlns:NS1="urn:KVDIntf-KVD"><return>' +
            'A'.repeat(8 * 1024 * 1024) + '</return></NS1:r>' + envelopeEnd;
        res.on('error', () => {});
        res.writeHead(200, { 'Content-Type': 'text/xml', 'Content-Length': Buffer.byteLength(body) });
        res.end(body);
    },
    // "Billion laughs": ten levels of ten references each.
    bomb: (req, res) => {
        let dtd = '<!DOCTYPE SOAP-ENV:Envelope [<!ENTITY lol0 "lol">';
        for (let i = 1; i < 10; i++) {
            const prev = '&lol' + (i - 1) + ';';
            dtd += '<!ENTITY lol' + i + ' "' + prev.repeat(10) + '">';
        }
        dtd += ']>';
        res.writeHead(200, { 'Content-Type': 'text/xml' });
        res.end('<?xml version="1.0" encoding="utf-8"?>' + dtd +
            envelopeStart.replace('<?xml version="1.0" encoding="utf-8"?>', '') +
            '<NS1:r xmlns:NS1="urn:KVDIntf-KVD"><return>&lol9;</return></NS1:r>' + envelopeEnd);
    },
    // A reply that starts and never ends.
    hang: (req, res) => {
        res.writeHead(200, { 'Content-Type': 'text/xml' });
        res.write(envelopeStart);
        const timer = setInterval(() => res.write(' '), 200);
        res.on('close', () => clearInterval(timer));
    },
    // A server that takes the request and never says anything.
    silent: (req, res) => {
        req.resume();
    },
    empty: (req, res) => {
        res.writeHead(200, { 'Content-Type': 'text/xml' });
        res.end();
    },
    noresult: (req, res) => {
        res.writeHead(200, { 'Content-Type': 'text/xml' });
        res.end(envelopeStart + '<NS1:kvd_application_runResponse xmlns:NS1="urn:KVDIntf-KVD"/>' +
            envelopeEnd);
    },
    notenvelope: (req, res) => {
        res.writeHead(200, { 'Content-Type': 'text/xml' });
        res.end('<?xml version="1.0"?><result>OK</result>');
    },
    // A well-formed reply in another server's style: other prefixes, a header,
    // an entity reference of XML's own and a result in two text pieces.
    otherstyle: (req, res) => {
        res.writeHead(200, { 'Content-Type': 'text/xml; charset=utf-8' });
        res.end('<?xml version="1.0" encoding="UTF-8"?>\n' +
            '<env:Envelope xmlns:env="http://schemas.xmlsoap.org/soap/envelope/">\n' +
            ' <env:Header><x:Trace xmlns:x="urn:x">1</x:Trace></env:Header>\n' +
            ' <env:Body>\n  <m:kvd_application_getupdateResponse xmlns:m="urn:KVDIntf-KVD">\n' +
            '   <Result>OK;1.2.0.15;&quot;a &amp; b&quot;<![CDATA[;c]]></Result>\n' +
            '  </m:kvd_application_getupdateResponse>\n </env:Body>\n</env:Envelope>\n');
    },
};

function readBody(req, done) {
    const chunks = [];
    req.on('data', (c) => chunks.push(c));
    req.on('end', () => done(Buffer.concat(chunks).toString('utf8')));
}

const server = http.createServer((req, res) => {
    const url = new URL(req.url, 'http://127.0.0.1');
    const m = url.pathname.match(/^\/bad\/([a-z0-9]+)$/);
    if (req.method === 'POST' && m && bad[m[1]]) {
        readBody(req, (xml) => {
            emit({ recv: { path: url.pathname, soapaction: req.headers.soapaction,
                contenttype: req.headers['content-type'], xml: xml } });
            if (m[1] !== 'silent')
                bad[m[1]](req, res);
        });
        if (m[1] === 'silent')
            bad.silent(req, res);
        return;
    }
    if (req.method === 'GET' && url.pathname === '/scripts/kvd.wsdl') {
        // The description with the address this peer really listens on.
        const port = server.address().port;
        res.writeHead(200, { 'Content-Type': 'text/xml' });
        res.end(wsdl.replace('http://127.0.0.1/', 'http://127.0.0.1:' + port + '/'));
        return;
    }
    res.writeHead(404, { 'Content-Type': 'text/plain' });
    res.end('Not Found');
});

const wsdl = fs.readFileSync(path.join(__dirname, 'kvd.wsdl'), 'utf8');

server.listen(Number(process.argv[2] || 0), '127.0.0.1', () => {
    const soapServer = soap.listen(server, '/scripts/kvd_services.php', service, wsdl);
    soapServer.log = (type, data, req) => {
        if (type === 'received') {
            lastReceived = { path: new URL(req.url, 'http://127.0.0.1').pathname,
                soapaction: req.headers.soapaction, contenttype: req.headers['content-type'],
                xml: data };
        }
    };
    process.stdout.write('PORT ' + server.address().port + '\n');
});

readline.createInterface({ input: process.stdin }).on('line', (line) => {
    let c;
    try {
        c = JSON.parse(line);
    } catch (e) {
        emit({ error: 'not JSON: ' + line });
        return;
    }
    const op = opNames[c.op];
    if (c.cmd === 'reply' && op) {
        replies[op] = { text: c.text };
    } else if (c.cmd === 'fault' && op) {
        replies[op] = { fault: { faultcode: c.faultcode, faultstring: c.faultstring } };
    } else {
        emit({ error: 'unknown command: ' + line });
        return;
    }
    emit({ ack: c.cmd });
});
// The test closes stdin when it is done; the peer ends with it.
process.stdin.on('end', () => process.exit(0));
