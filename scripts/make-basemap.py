#!/usr/bin/env python3
"""Builds the map view's offline world map, resources/basemap/world.tvbm, from Natural Earth data.

Natural Earth (https://www.naturalearthdata.com) is in the public domain. Its land and admin-0 country
boundaries at 1:110m, 1:50m and 1:10m come as TopoJSON in the npm package world-atlas (version 2):

    mkdir -p /tmp/atlas && cd /tmp/atlas && npm install world-atlas@2
    scripts/make-basemap.py /tmp/atlas/node_modules/world-atlas resources/basemap/world.tvbm

Run it once when the data changes; the output is committed.

For each scale the file holds the land as closed rings (for filling and, without their edges along the
antimeridian where Natural Earth cuts land, as the coast; rings cut there are unwrapped and repeated one
world over) and the borders between countries as polylines (arcs two countries share), projected to spherical Mercator and quantized to a grid of
2^q steps across the world (q = 16, 18, 20 for 110m, 50m, 10m: about 600, 150 and 40 m at the
equator, below what each scale resolves). Points are delta-encoded as zigzag varints and each scale's
block is zlib-compressed on its own, so the map view inflates only the scale it draws.

Layout (integers little-endian unless said otherwise):
    "TVBM"  magic
    u8      version (2)
    u8      number of scales
    per scale, coarsest first:
        u16 scale denominator in millions (110, 50, 10)
        u8  q (grid bits)
        u32 offset of the block from the file's start
        u32 length of the block
    blocks: a big-endian u32 with the inflated length, then zlib data (Qt's qUncompress form) of
        varint ringCount, land rings; varint lineCount, border lines;
        each a varint pointCount and pointCount zigzag-varint (dx, dy) pairs, the first relative to (0, 0).
"""

import json
import math
import struct
import sys
import zlib

SCALES = [(110, 16), (50, 18), (10, 20)]
MAX_LATITUDE = 85.05112878


def decode_arcs(topology):
    transform = topology.get("transform")
    arcs = []
    for arc in topology["arcs"]:
        points = []
        x = y = 0
        for position in arc:
            if transform:
                x += position[0]
                y += position[1]
                lon = x * transform["scale"][0] + transform["translate"][0]
                lat = y * transform["scale"][1] + transform["translate"][1]
            else:
                lon, lat = position[0], position[1]
            points.append((lon, lat))
        arcs.append(points)
    return arcs


def arc_points(arcs, index):
    return arcs[index] if index >= 0 else list(reversed(arcs[~index]))


def ring_points(arcs, ring):
    points = []
    for index in ring:
        part = arc_points(arcs, index)
        points.extend(part if not points else part[1:])
    return points


def polygons_of(geometry):
    if geometry["type"] == "Polygon":
        return [geometry["arcs"]]
    if geometry["type"] == "MultiPolygon":
        return geometry["arcs"]
    return []


def project(lon, lat, q):
    # x is not clamped: rings moved across the antimeridian reach past the world's edges.
    side = 1 << q
    lat = max(-MAX_LATITUDE, min(MAX_LATITUDE, lat))
    x = (lon + 180.0) / 360.0 * side
    s = math.sin(math.radians(lat))
    y = (0.5 - math.log((1 + s) / (1 - s)) / (4 * math.pi)) * side
    return (round(x), max(0, min(side, round(y))))


def unwrap(points):
    """The ring with longitudes made continuous, and copies one world east or west where it reaches past
    ±180, so that a ring cut at the antimeridian is not drawn as a band across the world.

    A ring around a pole (Antarctica) turns once around the world: its longitudes, made continuous, end
    a whole turn from where they start. Its closing edge is then not a line back along the coast's last
    latitude (that would leave the water between the coast and the map's edge) but the way round the
    pole: down the antimeridian to the pole, along it and back up. The pole lies beyond the map's edge
    (85.05°), so the land fills to that edge."""
    out = [points[0]]
    for lon, lat in points[1:]:
        previous = out[-1][0]
        while lon - previous > 180:
            lon -= 360
        while lon - previous < -180:
            lon += 360
        out.append((lon, lat))
    # The closing edge is the short way round as well; what the whole ring turns then tells a ring
    # around a pole from one that is not.
    closing = out[0][0] - out[-1][0]
    while closing > 180:
        closing -= 360
    while closing < -180:
        closing += 360
    turn = out[-1][0] + closing - out[0][0]
    if abs(turn) > 180:
        pole = -90.0 if sum(lat for _, lat in out) < 0 else 90.0
        end = out[0][0] + turn
        if abs(out[-1][0] - end) > 1e-9 or out[-1][1] != out[0][1]:
            out.append((end, out[0][1]))
        out.append((end, pole))
        out.append((out[0][0], pole))
    low = min(lon for lon, _ in out)
    high = max(lon for lon, _ in out)
    rings = [out]
    if high > 180:
        rings.append([(lon - 360, lat) for lon, lat in out])
    if low < -180:
        rings.append([(lon + 360, lat) for lon, lat in out])
    return rings


def quantize(points, q, closed):
    out = []
    for lon, lat in points:
        p = project(lon, lat, q)
        if not out or out[-1] != p:
            out.append(p)
    if closed and len(out) > 1 and out[0] == out[-1]:
        out.pop()
    return out


def area(points):
    return sum(x0 * y1 - x1 * y0 for (x0, y0), (x1, y1) in zip(points, points[1:] + points[:1])) / 2


def varint(value, out):
    while True:
        byte = value & 0x7F
        value >>= 7
        if value:
            out.append(byte | 0x80)
        else:
            out.append(byte)
            return


def zigzag(value):
    return (value << 1) ^ (value >> 63) if value < 0 else value << 1


def encode_paths(paths, out):
    varint(len(paths), out)
    for path in paths:
        varint(len(path), out)
        px = py = 0
        for x, y in path:
            varint(zigzag(x - px), out)
            varint(zigzag(y - py), out)
            px, py = x, y


def build_scale(folder, denominator, q):
    with open(f"{folder}/countries-{denominator}m.json", encoding="utf-8") as f:
        topology = json.load(f)
    arcs = decode_arcs(topology)
    rings = []
    for geometry in topology["objects"]["land"]["geometries"]:
        for polygon in polygons_of(geometry):
            for ring in polygon:
                original = ring_points(arcs, ring)
                for part in unwrap(original):
                    points = quantize(part, q, True)
                    # A ring with no area (the data has one lying along the pole) would only draw a coast
                    # along the map's edge.
                    if len(points) >= 3 and area(points) != 0:
                        rings.append(points)
    # Borders: arcs that two different countries share.
    users = {}
    for number, geometry in enumerate(topology["objects"]["countries"]["geometries"]):
        for polygon in polygons_of(geometry):
            for ring in polygon:
                for index in ring:
                    users.setdefault(index if index >= 0 else ~index, set()).add(number)
    lines = []
    for index in sorted(users):
        if len(users[index]) < 2:
            continue
        points = quantize(arcs[index], q, False)
        if len(points) >= 2:
            lines.append(points)
    raw = bytearray()
    encode_paths(rings, raw)
    encode_paths(lines, raw)
    block = struct.pack(">I", len(raw)) + zlib.compress(bytes(raw), 9)
    print(f"1:{denominator}m: {len(rings)} rings, {sum(map(len, rings))} points; {len(lines)} border lines, "
          f"{sum(map(len, lines))} points; {len(raw)} bytes, {len(block)} compressed")
    return block


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make-basemap.py <world-atlas folder> <output file>")
    folder, output = sys.argv[1], sys.argv[2]
    blocks = [build_scale(folder, denominator, q) for denominator, q in SCALES]
    header_size = 4 + 1 + 1 + len(SCALES) * (2 + 1 + 4 + 4)
    data = bytearray(b"TVBM")
    data += struct.pack("<BB", 2, len(SCALES))
    offset = header_size
    for (denominator, q), block in zip(SCALES, blocks):
        data += struct.pack("<HBII", denominator, q, offset, len(block))
        offset += len(block)
    for block in blocks:
        data += block
    with open(output, "wb") as f:
        f.write(data)
    print(f"{output}: {len(data)} bytes")


if __name__ == "__main__":
    main()
