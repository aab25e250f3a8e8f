#!/usr/bin/python3
"""ampsim's VXI-11 against pyvisa-py, a client written elsewhere, over loopback.

Starts `ampsim --vxi11 0 --hislip 0 --tcp 127.0.0.1:0`, opens TCPIP::127.0.0.1::inst0::INSTR with
pyvisa's '@py' backend through ampsim's portmapper, queries *IDN? and STATUS?, and closes. pyvisa-py
asks the portmapper on port 111; its rpc module reads the port from the module-level PMAP_PORT each
time it makes a portmapper client, so the test points that at ampsim's instead of needing port 111.
pyvisa-py has no HiSLIP, so the HiSLIP port gets a plain socket session over the same loopback,
which shows the listener and both channels sharing one port in the real program.
Usage: pyvisa_peer_check.py AMPSIM
"""
import socket
import struct
import subprocess
import sys

import pyvisa
from pyvisa_py.protocols import rpc


def start(ampsim):
    proc = subprocess.Popen([ampsim, "--vxi11", "0", "--hislip", "0", "--tcp", "127.0.0.1:0",
                             "--exit-on-stdin-eof"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    ports = {}
    for line in proc.stdout:
        line = line.strip()
        if line == "ready":
            return proc, ports
        kind, address = line.split(" ", 1)
        host, port = address.rsplit(":", 1)
        assert host == "127.0.0.1", line
        ports[kind] = int(port)
    raise SystemExit("ampsim ended before it was ready")


def check_vxi11(port):
    rpc.PMAP_PORT = port
    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource("TCPIP::127.0.0.1::inst0::INSTR", open_timeout=5000)
    inst.timeout = 5000
    idn = inst.query("*IDN?")
    status = inst.query("STATUS?")
    inst.close()
    rm.close()
    print("vxi11 *IDN? ->", repr(idn))
    print("vxi11 STATUS? ->", repr(status))
    assert idn == "Veltrask,AmpSim,AS000001,1.0\n", idn
    assert status.startswith("STATUS OK FWD=") and status.endswith("\n"), status


def hislip(type_, control, parameter, payload=b""):
    return b"HS" + struct.pack(">BBIQ", type_, control, parameter, len(payload)) + payload


def receive(sock):
    head = b""
    while len(head) < 16:
        head += sock.recv(16 - len(head)) or sys.exit("HiSLIP connection closed")
    _, type_, control, parameter, length = struct.unpack(">2sBBIQ", head)
    payload = b""
    while len(payload) < length:
        payload += sock.recv(length - len(payload))
    return type_, control, parameter, payload


def check_hislip(port):
    sync = socket.create_connection(("127.0.0.1", port), timeout=5)
    sync.sendall(hislip(0, 0, 0x01005858, b"hislip0"))
    type_, _, parameter, _ = receive(sync)
    assert type_ == 1, type_
    asynchronous = socket.create_connection(("127.0.0.1", port), timeout=5)
    asynchronous.sendall(hislip(17, 0, parameter & 0xFFFF))
    assert receive(asynchronous)[0] == 18
    sync.sendall(hislip(7, 0, 0xFFFFFF00, b"*IDN?\n"))
    reply = receive(sync)
    print("hislip *IDN? ->", reply)
    assert reply == (7, 0, 0xFFFFFF00, b"Veltrask,AmpSim,AS000001,1.0\n"), reply
    sync.close()
    asynchronous.close()


def main():
    proc, ports = start(sys.argv[1])
    try:
        check_vxi11(ports["vxi11"])
        check_hislip(ports["hislip"])
    finally:
        proc.stdin.close()
        code = proc.wait(timeout=10)
    assert code == 0, code
    print("pyvisa-py and the HiSLIP session were answered")


main()
