# The instruments of mdns-env, announced by python3-zeroconf from the second host (10.77.0.2):
# a raw SCPI socket without TXT data, and HiSLIP on its usual port with an LXI identification in
# its TXT record. Prints "published" once they are announced; runs until it is ended.
import signal
import socket
import sys

from zeroconf import IPVersion, ServiceInfo, Zeroconf

HOST = "10.77.0.2"


def service(kind, instance, port, properties=None):
    return ServiceInfo(f"{kind}.local.", f"{instance}.{kind}.local.", port=port, properties=properties or {},
                       addresses=[socket.inet_aton(HOST)], server="bench-amp.local.")


zeroconf = Zeroconf(interfaces=[HOST], ip_version=IPVersion.V4Only)
for info in (service("_scpi-raw._tcp", "Bench Amp (PA-1500 #1)", 5025),
             service("_hislip._tcp", "Bench Amp HiSLIP", 4880,
                     {"txtvers": "1", "Manufacturer": "Veltrask", "Model": "PA-1500",
                      "SerialNumber": "SN0042", "FirmwareVersion": "2.1"})):
    zeroconf.register_service(info)
print("published", flush=True)
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
signal.pause()
