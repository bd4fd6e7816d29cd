#!/usr/bin/env python3
"""The rounds of bench/download.sh, run inside tests/download/servers.py (which supplies the
nginx port and serves large.bin and small.bin)."""
import argparse
import os
import re
import statistics
import subprocess
import time

MIB = 1048576


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def engine(args, url, dest):
    """Seconds of the transfer as the engine's caller sees it, and the tool's report."""
    if os.path.exists(dest):
        os.remove(dest)
    output = subprocess.run([args.wine_run, args.prefix, args.tool, url, windows_path(dest)],
                            check=True, capture_output=True, text=True).stdout
    report = dict(re.findall(r"(\w+)=(\S+)", output))
    if report.get("result") != "0":
        raise SystemExit(f"engine failed: {output}")
    return int(report["ms"]) / 1000.0, report


def winhttp(args, url, dest):
    """The same transfer by the plainest synchronous WinHTTP loop: the platform's ceiling."""
    if os.path.exists(dest):
        os.remove(dest)
    output = subprocess.run([args.wine_run, args.prefix, args.winhttp_fetch, url, windows_path(dest)],
                            check=True, capture_output=True, text=True).stdout
    return int(re.search(r"ms=(\d+)", output).group(1)) / 1000.0


def curl(url, dest):
    if os.path.exists(dest):
        os.remove(dest)
    output = subprocess.run(["curl", "-sS", "--fail", "-o", dest, "-w", "%{time_total}", url],
                            check=True, capture_output=True, text=True).stdout
    return float(output)


def main():
    parser = argparse.ArgumentParser()
    for name in ("tool", "winhttp_fetch", "prefix", "wine_run", "out"):
        parser.add_argument("--" + name.replace("_", "-"), required=True)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    port = os.environ["VMDL_HTTP_PORT"]
    docroot = os.environ["VMDL_DOCROOT_UNIX"]
    large = f"http://127.0.0.1:{port}/large.bin"
    size = os.path.getsize(os.path.join(docroot, "large.bin"))
    dest = os.path.join(args.out, "large.bin")

    engine(args, f"http://127.0.0.1:{port}/small.bin", os.path.join(args.out, "warm.bin"))
    rates = {"engine": [], "winhttp": [], "curl": []}
    memory = []
    for round_ in range(1, args.rounds + 1):
        seconds, report = engine(args, large, dest)
        if os.path.getsize(dest) != size:
            raise SystemExit("engine: wrong size")
        rates["engine"].append(size / MIB / seconds)
        memory.append(int(report["peak_private"]))
        rates["winhttp"].append(size / MIB / winhttp(args, large, dest))
        rates["curl"].append(size / MIB / curl(large, dest))
        print(f"round {round_}: engine {rates['engine'][-1]:7.1f} MB/s   bare WinHTTP {rates['winhttp'][-1]:7.1f} MB/s"
              f"   curl {rates['curl'][-1]:7.1f} MB/s", flush=True)
    _, small = engine(args, f"http://127.0.0.1:{port}/small.bin", os.path.join(args.out, "small.bin"))

    engine_rate = statistics.median(rates["engine"])
    winhttp_rate = statistics.median(rates["winhttp"])
    curl_rate = statistics.median(rates["curl"])
    ratio = engine_rate / curl_rate
    print(f"download {size // MIB} MiB over loopback, median of {args.rounds} rounds:")
    print(f"  engine (under Wine)             {engine_rate:7.1f} MB/s")
    print(f"  bare synchronous WinHTTP (Wine) {winhttp_rate:7.1f} MB/s")
    print(f"  curl                            {curl_rate:7.1f} MB/s")
    print(f"  ratio engine/curl               {ratio:7.2f}  (goal >= 0.50: {'met' if ratio >= 0.5 else 'NOT met'})")
    print(f"  ratio engine/bare WinHTTP       {engine_rate / winhttp_rate:7.2f}")
    print(f"  engine peak private memory: {max(memory) / MIB:.1f} MiB for {size // MIB} MiB, "
          f"{int(small['peak_private']) / MIB:.1f} MiB for 16 MiB; "
          f"peak working set {int(report['peak_working_set']) / MIB:.1f} MiB / "
          f"{int(small['peak_working_set']) / MIB:.1f} MiB")
    for name in ("large.bin", "small.bin", "warm.bin"):
        path = os.path.join(args.out, name)
        if os.path.exists(path):
            os.remove(path)


if __name__ == "__main__":
    main()
