#!/usr/bin/env python3
"""Writes a short NMEA track (GGA and RMC sentences) for the program's
position replay (TERVOLO_NMEA_FILE): a walk from a start point in a straight
line, one fix every few seconds, timed from now (or --start), so that the
location services take the fixes as current.

    scripts/make-nmea-track.py track.nmea --lat 60.1699 --lon 24.9384
"""
import argparse
import math
import time


def angle(degrees, digits, positive, negative):
    magnitude = abs(degrees)
    whole = int(magnitude)
    minutes = round((magnitude - whole) * 60.0, 4)
    if minutes >= 60.0:
        whole += 1
        minutes -= 60.0
    return "%0*d%07.4f,%s" % (digits, whole, minutes, negative if degrees < 0 else positive)


def sentence(body):
    checksum = 0
    for byte in body.encode("ascii"):
        checksum ^= byte
    return "$%s*%02X\r\n" % (body, checksum)


def fix(latitude, longitude, seconds, speed_knots, course):
    utc = time.gmtime(int(seconds))
    hundredths = int(round((seconds - int(seconds)) * 100)) % 100
    clock = "%02d%02d%02d.%02d" % (utc.tm_hour, utc.tm_min, utc.tm_sec, hundredths)
    day = "%02d%02d%02d" % (utc.tm_mday, utc.tm_mon, utc.tm_year % 100)
    position = angle(latitude, 2, "N", "S") + "," + angle(longitude, 3, "E", "W")
    gga = "GPGGA,%s,%s,1,08,0.9,15.0,M,19.0,M,," % (clock, position)
    rmc = "GPRMC,%s,A,%s,%.1f,%.1f,%s,,,A" % (clock, position, speed_knots, course, day)
    return sentence(gga) + sentence(rmc)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output")
    parser.add_argument("--lat", type=float, default=60.1699, help="start latitude, degrees")
    parser.add_argument("--lon", type=float, default=24.9384, help="start longitude, degrees")
    parser.add_argument("--start", type=float, default=None, help="Unix time of the first fix (default: now)")
    parser.add_argument("--count", type=int, default=6, help="number of fixes")
    parser.add_argument("--step", type=float, default=1.0, help="seconds between fixes")
    parser.add_argument("--speed", type=float, default=1.4, help="metres per second")
    parser.add_argument("--course", type=float, default=90.0, help="degrees from north")
    args = parser.parse_args()
    if args.count < 1 or args.step <= 0:
        parser.error("--count must be at least 1 and --step positive")

    start = time.time() if args.start is None else args.start
    metres_per_degree = 111320.0
    lines = []
    for index in range(args.count):
        distance = args.speed * args.step * index
        north = distance * math.cos(math.radians(args.course))
        east = distance * math.sin(math.radians(args.course))
        latitude = args.lat + north / metres_per_degree
        longitude = args.lon + east / (metres_per_degree * max(0.01, math.cos(math.radians(args.lat))))
        lines.append(fix(latitude, longitude, start + index * args.step, args.speed / 0.514444, args.course))
    with open(args.output, "w", newline="") as out:
        out.write("".join(lines))


if __name__ == "__main__":
    main()
