#!/usr/bin/env python3
"""Writes the meshes of the industrial arm sample (examples/industrial6.urdf) into
examples/meshes/industrial6: the project's own shapes, made of cylinders, in the three formats
the view reads. COLLADA files are written in millimetres (<unit meter="0.001">) with their
colours; STL files in metres without colours (the URDF gives them theirs); the OBJ file in metres
with a material file. Run it again after changing a shape: the output is the same on every run.

    python3 examples/meshes/make_meshes.py
"""
import math
import os
import struct

SIDES = 32
ORANGE = (0.93, 0.45, 0.08)
GREY = (0.78, 0.79, 0.81)
DARK = (0.22, 0.23, 0.25)


def cylinder(radius, start, end):
    """Triangles (three (point, normal) pairs each) of a closed cylinder from start to end."""
    axis = [e - s for s, e in zip(start, end)]
    length = math.sqrt(sum(a * a for a in axis))
    w = [a / length for a in axis]
    helper = (1.0, 0.0, 0.0) if abs(w[0]) < 0.9 else (0.0, 1.0, 0.0)
    u = cross(w, helper)
    u = [x / math.sqrt(sum(c * c for c in u)) for x in u]
    v = cross(w, u)
    ring = []
    for k in range(SIDES):
        a = 2 * math.pi * k / SIDES
        ring.append([math.cos(a) * u[i] + math.sin(a) * v[i] for i in range(3)])
    triangles = []
    for k in range(SIDES):
        n0, n1 = ring[k], ring[(k + 1) % SIDES]
        p = lambda s, n: tuple(s[i] + radius * n[i] for i in range(3))
        a0, a1, b0, b1 = p(start, n0), p(start, n1), p(end, n0), p(end, n1)
        triangles.append(((a0, n0), (a1, n1), (b1, n1)))
        triangles.append(((a0, n0), (b1, n1), (b0, n0)))
        back = tuple(-x for x in w)
        triangles.append(((tuple(start), back), (a1, back), (a0, back)))
        triangles.append(((tuple(end), tuple(w)), (b0, tuple(w)), (b1, tuple(w))))
    return triangles


def cross(a, b):
    return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]


def across_y(radius, length, at):
    """A housing across the arm: a cylinder along y, centred at at."""
    x, y, z = at
    return cylinder(radius, (x, y - length / 2, z), (x, y + length / 2, z))


# Each link's parts in its URDF frame, metres: (colour, triangles).
LINKS = {
    "base_link": [(DARK, cylinder(0.11, (0, 0, 0), (0, 0, 0.015))),
                  (GREY, cylinder(0.08, (0, 0, 0.015), (0, 0, 0.15)))],
    "link_1": [(DARK, cylinder(0.075, (0, 0, 0), (0, 0, 0.02))),
               (ORANGE, cylinder(0.065, (0, 0, 0.02), (0, 0, 0.15))),
               (ORANGE, across_y(0.062, 0.15, (0.05, 0, 0.15)))],
    "link_2": [(ORANGE, cylinder(0.045, (0, 0, 0), (0, 0, 0.3))),
               (ORANGE, across_y(0.055, 0.12, (0, 0, 0.3)))],
    "link_3": [(ORANGE, across_y(0.05, 0.1, (0, 0, 0))),
               (ORANGE, cylinder(0.042, (0, 0, 0), (0.04, 0, 0.04)))],
    "link_4": [(GREY, cylinder(0.04, (0, 0, 0), (0.05, 0, 0))),
               (GREY, cylinder(0.034, (0.05, 0, 0), (0.22, 0, 0)))],
    "link_5": [(ORANGE, across_y(0.032, 0.07, (0.0, 0, 0))),
               (ORANGE, cylinder(0.028, (0, 0, 0), (0.05, 0, 0)))],
    "link_6": [(DARK, cylinder(0.03, (0, 0, 0), (0.02, 0, 0)))],
}
# The format each link's mesh is written in.
FORMATS = {"base_link": "dae", "link_1": "dae", "link_2": "stl", "link_3": "dae",
           "link_4": "obj", "link_5": "dae", "link_6": "stl"}


def number(x):
    text = "%.6f" % x
    text = text.rstrip("0").rstrip(".")
    return "0" if text in ("-0", "") else text


def write_dae(path, parts):
    effects, materials, geometries, nodes = [], [], [], []
    for i, (colour, triangles) in enumerate(parts):
        c = " ".join(number(x) for x in colour) + " 1"
        effects.append(f'<effect id="e{i}"><profile_COMMON><technique sid="common"><phong>'
                       f'<diffuse><color>{c}</color></diffuse>'
                       f'<specular><color>0.3 0.3 0.3 1</color></specular>'
                       f'<shininess><float>20</float></shininess></phong></technique>'
                       f'</profile_COMMON></effect>')
        materials.append(f'<material id="m{i}" name="m{i}"><instance_effect url="#e{i}"/></material>')
        points = [p for t in triangles for p, _ in t]
        normals = [n for t in triangles for _, n in t]
        pa = " ".join(number(1000 * x) for p in points for x in p)  # millimetres
        na = " ".join(number(x) for n in normals for x in n)
        count = len(points)
        index = " ".join(f"{k} {k}" for k in range(count))
        geometries.append(
            f'<geometry id="g{i}"><mesh>'
            f'<source id="g{i}p"><float_array id="g{i}pa" count="{3 * count}">{pa}</float_array>'
            f'<technique_common><accessor source="#g{i}pa" count="{count}" stride="3">'
            f'<param name="X" type="float"/><param name="Y" type="float"/>'
            f'<param name="Z" type="float"/></accessor></technique_common></source>'
            f'<source id="g{i}n"><float_array id="g{i}na" count="{3 * count}">{na}</float_array>'
            f'<technique_common><accessor source="#g{i}na" count="{count}" stride="3">'
            f'<param name="X" type="float"/><param name="Y" type="float"/>'
            f'<param name="Z" type="float"/></accessor></technique_common></source>'
            f'<vertices id="g{i}v"><input semantic="POSITION" source="#g{i}p"/></vertices>'
            f'<triangles material="m{i}" count="{count // 3}">'
            f'<input semantic="VERTEX" source="#g{i}v" offset="0"/>'
            f'<input semantic="NORMAL" source="#g{i}n" offset="1"/><p>{index}</p></triangles>'
            f'</mesh></geometry>')
        nodes.append(f'<node id="n{i}"><instance_geometry url="#g{i}"><bind_material>'
                     f'<technique_common><instance_material symbol="m{i}" target="#m{i}"/>'
                     f'</technique_common></bind_material></instance_geometry></node>')
    nl = "\n"
    text = (f'<?xml version="1.0" encoding="utf-8"?>\n'
            f'<COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" version="1.4.1">\n'
            f'<asset><contributor><authoring_tool>examples/meshes/make_meshes.py</authoring_tool>'
            f'</contributor><unit name="millimetre" meter="0.001"/><up_axis>Z_UP</up_axis>'
            f'</asset>\n'
            f'<library_effects>{nl.join(effects)}</library_effects>\n'
            f'<library_materials>{nl.join(materials)}</library_materials>\n'
            f'<library_geometries>{nl.join(geometries)}</library_geometries>\n'
            f'<library_visual_scenes><visual_scene id="scene">{nl.join(nodes)}</visual_scene>'
            f'</library_visual_scenes>\n'
            f'<scene><instance_visual_scene url="#scene"/></scene>\n</COLLADA>\n')
    with open(path, "w") as f:
        f.write(text)


def write_stl(path, parts):
    triangles = [t for _, ts in parts for t in ts]
    with open(path, "wb") as f:
        f.write(b"velmoth examples/meshes/make_meshes.py".ljust(80, b" "))
        f.write(struct.pack("<I", len(triangles)))
        for t in triangles:
            (a, _), (b, _), (c, _) = t
            n = cross([b[i] - a[i] for i in range(3)], [c[i] - a[i] for i in range(3)])
            length = math.sqrt(sum(x * x for x in n)) or 1.0
            f.write(struct.pack("<12fH", *[x / length for x in n], *a, *b, *c, 0))


def write_obj(path, parts):
    base = os.path.splitext(os.path.basename(path))[0]
    lines = [f"# {base}: examples/meshes/make_meshes.py", f"mtllib {base}.mtl"]
    mtl = [f"# {base}: examples/meshes/make_meshes.py"]
    v = 0
    for i, (colour, triangles) in enumerate(parts):
        mtl += [f"newmtl part{i}", "Kd " + " ".join(number(x) for x in colour)]
        lines.append(f"usemtl part{i}")
        for t in triangles:
            for p, n in t:
                lines.append("v " + " ".join(number(x) for x in p))
                lines.append("vn " + " ".join(number(x) for x in n))
            lines.append(f"f {v + 1}//{v + 1} {v + 2}//{v + 2} {v + 3}//{v + 3}")
            v += 3
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    with open(os.path.join(os.path.dirname(path), base + ".mtl"), "w") as f:
        f.write("\n".join(mtl) + "\n")


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "industrial6")
    os.makedirs(folder, exist_ok=True)
    for link, parts in LINKS.items():
        kind = FORMATS[link]
        path = os.path.join(folder, f"{link}.{kind}")
        {"dae": write_dae, "stl": write_stl, "obj": write_obj}[kind](path, parts)
        print(path)


if __name__ == "__main__":
    main()
