#!/usr/bin/python3
"""A Modbus TCP client built on Debian's pymodbus, for zlm-read's tests and
benchmark. Every mode prints one JSON object on stdout.

  map PORT UNIT ORDER           the map of UNIT read as input registers (04),
                                which holding registers (03) must repeat,
                                decoded with ORDER (high or low)
  exception PORT UNIT FUNCTION ADDRESS COUNT
                                the exception code of one request (03, 04,
                                05, 06, 16), or null when it was answered
  load PORT UNITS CLIENTS HZ SECONDS
                                CLIENTS clients at once, each reading the map
                                of the units (comma-separated) in turn HZ
                                times a second for SECONDS
"""

import json
import struct
import sys
import threading
import time

from pymodbus.client import ModbusTcpClient

MAP_SIZE = 45
HOST = "127.0.0.1"


def words32(registers, at, order):
    first, second = registers[at], registers[at + 1]
    high, low = (first, second) if order == "high" else (second, first)
    return struct.pack(">HH", high, low)


def decode(registers, order):
    u32 = lambda at: struct.unpack(">I", words32(registers, at, order))[0]
    return {
        "version": registers[0],
        "status": registers[1],
        "cause": registers[2],
        "address": registers[3],
        "age": u32(4),
        "good": u32(6),
        "failed": u32(8),
        "values": [struct.unpack(">f", words32(registers, 10 + 2 * i, order))[0] for i in range(7)],
        "digits": [u32(24 + 2 * i) for i in range(7)],
        "positions": registers[38:45],
    }


def client(port):
    c = ModbusTcpClient(HOST, port=port, timeout=5, retries=0)
    if not c.connect():
        raise SystemExit("cannot connect to %s:%d" % (HOST, port))
    return c


def read_map(port, unit, order):
    c = client(port)
    inputs = c.read_input_registers(0, MAP_SIZE, slave=unit)
    holding = c.read_holding_registers(0, MAP_SIZE, slave=unit)
    c.close()
    if inputs.isError() or holding.isError():
        return {"error": str(inputs if inputs.isError() else holding)}
    result = decode(inputs.registers, order)
    result["holding_same"] = list(holding.registers) == list(inputs.registers)
    return result


def exception(port, unit, function, address, count):
    c = client(port)
    calls = {
        3: lambda: c.read_holding_registers(address, count, slave=unit),
        4: lambda: c.read_input_registers(address, count, slave=unit),
        5: lambda: c.write_coil(address, True, slave=unit),
        6: lambda: c.write_register(address, 1, slave=unit),
        16: lambda: c.write_registers(address, [1] * count, slave=unit),
    }
    response = calls[function]()
    c.close()
    return {"exception": getattr(response, "exception_code", None)}


def load(port, units, clients, hz, seconds):
    results = [{"requests": 0, "wrong": 0, "errors": 0} for _ in range(clients)]
    start = time.monotonic()

    def poll(result):
        c = client(port)
        n = 0
        while True:
            due = start + n / hz
            if due >= start + seconds:
                break
            time.sleep(max(0.0, due - time.monotonic()))
            unit = units[n % len(units)]
            n += 1
            response = c.read_input_registers(0, MAP_SIZE, slave=unit)
            result["requests"] += 1
            if response.isError():
                result["errors"] += 1
            elif response.registers[0] != 1 or response.registers[3] != unit:
                result["wrong"] += 1
        c.close()

    threads = [threading.Thread(target=poll, args=(r,)) for r in results]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return {
        "requests": sum(r["requests"] for r in results),
        "wrong": sum(r["wrong"] for r in results),
        "errors": sum(r["errors"] for r in results),
        "seconds": time.monotonic() - start,
    }


def main(argv):
    mode, port = argv[1], int(argv[2])
    if mode == "map":
        out = read_map(port, int(argv[3]), argv[4])
    elif mode == "exception":
        out = exception(port, *(int(a) for a in argv[3:7]))
    elif mode == "load":
        units = [int(u) for u in argv[3].split(",")]
        out = load(port, units, int(argv[4]), float(argv[5]), float(argv[6]))
    else:
        raise SystemExit(__doc__)
    print(json.dumps(out))


if __name__ == "__main__":
    main(sys.argv)
