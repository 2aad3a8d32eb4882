#!/usr/bin/env python3
# A WS-Discovery responder that answers every Probe with what a broken or hostile device
# might send: XML that does not parse, a datagram larger than any real one, and two
# well-formed matches whose metadata is oversized or names an unusable computer.
# Usage: junk_wsd.py ADDRESS   (runs until killed)
import http.server
import socket
import struct
import sys
import threading

ADDRESS = sys.argv[1]
SOAP = ('<?xml version="1.0" encoding="utf-8"?><soap:Envelope '
        'xmlns:soap="http://www.w3.org/2003/05/soap-envelope" '
        'xmlns:wsa="http://schemas.xmlsoap.org/ws/2004/08/addressing" '
        'xmlns:wsd="http://schemas.xmlsoap.org/ws/2005/04/discovery" '
        'xmlns:wsdp="http://schemas.xmlsoap.org/ws/2006/02/devprof" '
        'xmlns:pub="http://schemas.microsoft.com/windows/pub/2005/07">'
        '<soap:Header><wsa:Action>{action}</wsa:Action><wsa:RelatesTo>{relates}</wsa:RelatesTo>'
        '<wsa:MessageID>urn:uuid:00000000-0000-4000-8000-00000000000{n}</wsa:MessageID></soap:Header>'
        '<soap:Body>{body}</soap:Body></soap:Envelope>')
MATCH = ('<wsd:ProbeMatches><wsd:ProbeMatch><wsa:EndpointReference><wsa:Address>{endpoint}</wsa:Address>'
         '</wsa:EndpointReference><wsd:Types>wsdp:Device pub:Computer</wsd:Types>'
         '<wsd:XAddrs>http://' + ADDRESS + ':5357/{path}</wsd:XAddrs></wsd:ProbeMatch></wsd:ProbeMatches>')
PROBE_MATCHES = 'http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches'


def message_id(data):
    text = data.decode('utf-8', 'replace')
    start = text.find('MessageID>')
    end = text.find('<', start + 10)
    return text[start + 10:end] if start >= 0 and end > start else ''


def answers(relates):
    yield b'<soap:Envelope><soap:Header><wsa:Action>' + relates.encode() + b'</soap:Envelope'
    yield SOAP.format(action=PROBE_MATCHES, relates=relates, n=1,
                      body=MATCH.format(endpoint='urn:uuid:10000000-0000-4000-8000-000000000001', path='x')
                      + '<!--' + 'x' * 20000 + '-->').encode()
    yield SOAP.format(action=PROBE_MATCHES, relates=relates, n=2,
                      body=MATCH.format(endpoint='urn:uuid:20000000-0000-4000-8000-000000000002',
                                        path='big')).encode()
    yield SOAP.format(action=PROBE_MATCHES, relates=relates, n=3,
                      body=MATCH.format(endpoint='urn:uuid:30000000-0000-4000-8000-000000000003',
                                        path='bad')).encode()


class Metadata(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        self.rfile.read(int(self.headers.get('Content-Length', '0')))
        if self.path == '/big':
            body = SOAP.format(action='x', relates='x', n=4,
                               body='<pub:Computer>BIGHOST/Workgroup:LQDISC</pub:Computer>' + ' ' * 100000)
        else:
            body = SOAP.format(action='x', relates='x', n=5,
                               body='<pub:Computer>EVIL\\HOST/Workgroup:LQDISC</pub:Computer>')
        data = body.encode()
        self.send_response(200)
        self.send_header('Content-Type', 'application/soap+xml')
        self.send_header('Content-Length', str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer((ADDRESS, 5357), Metadata)
threading.Thread(target=server.serve_forever, daemon=True).start()

sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
sock.bind(('239.255.255.250', 3702))
sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                struct.pack('4s4s', socket.inet_aton('239.255.255.250'), socket.inet_aton(ADDRESS)))
while True:
    data, sender = sock.recvfrom(65536)
    if b'/discovery/Probe<' not in data:
        continue
    for answer in answers(message_id(data)):
        sock.sendto(answer, sender)
