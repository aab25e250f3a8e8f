#!/usr/bin/python3
# ampsim's UDP portmapper against pyvisa-py's broadcast GETPORT client, a client written elsewhere:
# run through netns-run --two-hosts, ampsim on the second host (10.77.0.2), the broadcast from here.
import os, subprocess, sys
from pyvisa_py.protocols import rpc

ampsim = subprocess.Popen(["nsenter", "-t", os.environ["NETNS_PEER"], "-n", sys.argv[1], "--vxi11", "10.77.0.2:111",
                           "--portmapper-udp", "10.77.0.2", "--tcp", "127.0.0.1:0"], stdout=subprocess.PIPE, text=True)
core = None
for line in ampsim.stdout:
    if line.startswith("vxi11-core "):
        core = int(line.rsplit(":", 1)[1])
    if line.strip() == "ready":
        break
client = rpc.BroadcastUDPPortMapperClient("10.77.0.255")
client.set_timeout(2)
replies = client.get_port((0x0607AF, 1, rpc.IPPROTO_TCP, 0))
ampsim.terminate()
ampsim.wait()
if replies != [(core, ("10.77.0.2", 111))]:
    sys.exit(f"expected the core port {core} from 10.77.0.2, got {replies}")
