// The 3-D view, as the window's: the floor grid of 5 x 5 m with the world axes, the arm as its
// figure (housings at the joints, bodies between them; orange at a limit) or by its file's shapes,
// and the window's camera: eye and look-at point with z up, the scene turned by tilt (about y) and
// spin (about z). Left drag turns (100 degrees per 360 pixels), right drag pans, the wheel zooms
// (0.9 or 1.1 of the distance a step). Ctrl and a left drag on a link pull it: the view picks the
// point of the link under the cursor on what it draws (the figure or the file's shapes) and
// reports the press, the cursor's point at the picked depth as the mouse moves, the wheel and the
// release to onPull(kind, data); it draws the pull it is given (setPull).
import * as THREE from 'three';
import { STLLoader } from 'three/addons/loaders/STLLoader.js';
import { ColladaLoader } from 'three/addons/loaders/ColladaLoader.js';
import { OBJLoader } from 'three/addons/loaders/OBJLoader.js';

const kStartEye = new THREE.Vector3(2.5, 0, 0.4);
const kStartCenter = new THREE.Vector3(0, 0, 0.8);
const kUp = THREE.MathUtils.degToRad(25);
const kHousingGrey = 0.5;
const kBodyGrey = 0.7;
const kAtLimit = new THREE.Color(1.0, 0.55, 0.0);
const kMinEyeDistance = 1e-6;
const kMaxEyeDistance = 100;
const kPullColour = new THREE.Color(0.85, 0.1, 0.65);

const grey = (g) => new THREE.Color(g, g, g);

// Whether WebGL draws in software here (SwiftShader, llvmpipe): every pixel is then shaded by the
// processor, so the view draws without multisampling and with Lambert's shading, which costs a
// fraction of the physically based one per pixel.
function softwareRendering() {
  const gl = document.createElement('canvas').getContext('webgl');
  if (!gl) return false;
  const info = gl.getExtension('WEBGL_debug_renderer_info');
  const name = info ? gl.getParameter(info.UNMASKED_RENDERER_WEBGL) : gl.getParameter(gl.RENDERER);
  gl.getExtension('WEBGL_lose_context')?.loseContext();
  return /swiftshader|llvmpipe|softpipe|software/i.test(String(name));
}
const kSoftware = softwareRendering();
// The surfaces of the figure and of the file's shapes.
const Surface = kSoftware ? THREE.MeshLambertMaterial : THREE.MeshStandardMaterial;

export class ArmView {
  constructor(canvas) {
    this.canvas = canvas;
    this.renderer = new THREE.WebGLRenderer({
      canvas,
      antialias: !kSoftware,
    });
    // A pixel of the screen a pixel of the view in software, however dense the screen.
    this.renderer.setPixelRatio(kSoftware ? 1 : window.devicePixelRatio || 1);
    this.software = kSoftware;
    this.scene = new THREE.Scene();
    this.scene.background = new THREE.Color(0.94, 0.94, 0.94);
    this.camera = new THREE.PerspectiveCamera(45, 1, 0.01, 1e6);
    this.camera.up.set(0, 0, 1);
    this.world = new THREE.Group();
    this.scene.add(this.world);
    this.scene.add(new THREE.HemisphereLight(0xffffff, 0x606060, 2.2));
    const sun = new THREE.DirectionalLight(0xffffff, 1.2);
    sun.position.set(2, -3, 5);
    this.scene.add(sun);
    this.world.add(grid(5, 0.5));
    this.arm = new THREE.Group();
    this.world.add(this.arm);
    this.raycaster = new THREE.Raycaster();
    this.onPull = null;
    this.pullMarker = pullMarker();
    this.world.add(this.pullMarker.group);
    this.pullLabel = document.createElement('div');
    this.pullLabel.className = 'pullLabel';
    this.pullLabel.hidden = true;
    canvas.parentElement.append(this.pullLabel);
    this.eye = kStartEye.clone();
    this.center = kStartCenter.clone();
    this.spin = 0;
    this.tilt = 0;
    this.dirty = true;
    this.mouse();
    new ResizeObserver(() => this.resize()).observe(canvas);
    this.resize();
  }

  resize() {
    const w = Math.max(1, this.canvas.clientWidth);
    const h = Math.max(1, this.canvas.clientHeight);
    this.renderer.setSize(w, h, false);
    this.camera.aspect = w / h;
    this.camera.updateProjectionMatrix();
    this.dirty = true;
  }

  mouse() {
    // 1: turn, 2: pan, 3: the middle button, 4: pull.
    let mode = 0;
    let last = null;
    let depth = 0;
    const c = this.canvas;
    c.addEventListener('contextmenu', (e) => e.preventDefault());
    c.addEventListener('pointerdown', (e) => {
      if (e.button === 0 && e.ctrlKey) {
        // A press beside the arm, or on its base, does nothing.
        const pick = this.onPull ? this.pick(e.clientX, e.clientY) : null;
        mode = pick ? 4 : 0;
        if (!pick) return;
        depth = pick.depth;
        c.setPointerCapture(e.pointerId);
        this.onPull('press', pick);
        return;
      }
      mode = e.button === 0 ? 1 : e.button === 2 ? 2 : e.button === 1 ? 3 : 0;
      last = { x: e.clientX, y: e.clientY };
      if (mode) c.setPointerCapture(e.pointerId);
    });
    const up = () => {
      if (mode === 4) this.onPull('release', {});
      mode = 0;
    };
    c.addEventListener('pointerup', up);
    c.addEventListener('pointercancel', up);
    c.addEventListener('pointermove', (e) => {
      if (!mode || e.buttons === 0) return;
      if (mode === 4) {
        this.onPull('move', { target: this.cursorPoint(e.clientX, e.clientY, depth) });
        return;
      }
      const dx = e.clientX - last.x;
      const dy = e.clientY - last.y;
      last = { x: e.clientX, y: e.clientY };
      if (mode === 1) {
        this.spin += dx / 3.6;
        this.tilt += dy / 3.6;
      } else if (mode === 2) {
        // The eye stays, so panning also turns the line of sight.
        this.center.y -= dx / 100;
        this.center.z += dy / 100;
      }
      this.dirty = true;
    });
    c.addEventListener(
      'wheel',
      (e) => {
        if (e.deltaY === 0) return;
        e.preventDefault();
        // While pulling, a step away from the user makes the spring stiffer.
        if (mode === 4) {
          this.onPull('wheel', { steps: e.deltaY < 0 ? 1 : -1 });
          return;
        }
        // One event is one step, whatever its size.
        const f = e.deltaY > 0 ? 0.9 : 1.1;
        const d = this.eye.clone().sub(this.center);
        const distance = f * d.length();
        if (f < 1 ? distance < kMinEyeDistance : distance > kMaxEyeDistance) return;
        this.eye.copy(this.center).addScaledVector(d, f);
        this.dirty = true;
      },
      { passive: false },
    );
  }

  // The point of the arm under the cursor, as drawn: {link, point (in the link's frame), target
  // (the same point in world coordinates), depth (along the line of sight)}, or null where the
  // cursor shows no link (the background, the floor, the base).
  pick(clientX, clientY) {
    this.place();
    this.raycaster.setFromCamera(this.ndc(clientX, clientY), this.camera);
    const hit = this.raycaster.intersectObject(this.arm, true)[0];
    if (!hit) return null;
    let o = hit.object;
    while (o && o.userData.link === undefined) o = o.parent;
    const link = o ? o.userData.link : -1;
    if (link < 0) return null;
    const world = this.world.worldToLocal(hit.point.clone());
    const local = world.clone().applyMatrix4(this.links[link].matrix.clone().invert());
    const forward = this.camera.getWorldDirection(new THREE.Vector3());
    return {
      link,
      point: local.toArray(),
      target: world.toArray(),
      depth: hit.point.clone().sub(this.camera.position).dot(forward),
    };
  }

  // The world point under the cursor at the depth given along the line of sight.
  cursorPoint(clientX, clientY, depth) {
    this.place();
    this.raycaster.setFromCamera(this.ndc(clientX, clientY), this.camera);
    const ray = this.raycaster.ray;
    const forward = this.camera.getWorldDirection(new THREE.Vector3());
    const p = ray.origin.clone().addScaledVector(ray.direction, depth / ray.direction.dot(forward));
    return this.world.worldToLocal(p).toArray();
  }

  ndc(clientX, clientY) {
    const r = this.canvas.getBoundingClientRect();
    return new THREE.Vector2(
      ((clientX - r.left) / r.width) * 2 - 1,
      -((clientY - r.top) / r.height) * 2 + 1,
    );
  }

  // The pull as the ticks take it ({point, target, newtons}, world coordinates), or null: the
  // point pulled, a line to the cursor's point and the force beside the cursor.
  setPull(pull) {
    const m = this.pullMarker;
    const shown = !!pull && Number.isFinite(pull.newtons);
    if (!shown && !m.group.visible) return;
    m.group.visible = shown;
    this.pullLabel.hidden = !shown;
    if (shown) {
      m.dot.position.fromArray(pull.point);
      m.line.geometry.attributes.position.array.set([...pull.point, ...pull.target]);
      m.line.geometry.attributes.position.needsUpdate = true;
      m.line.geometry.computeBoundingSphere();
      this.pullLabel.textContent = forceText(pull.newtons);
      this.pullTarget = new THREE.Vector3().fromArray(pull.target);
    }
    this.dirty = true;
  }

  // A new arm: its figure from the engine's (5 numbers a link), its shapes (the parser's visuals,
  // meshes read through readFile(uri) -> {data, name} or null), its frames' names.
  async setArm(arm, visuals, readFile) {
    this.world.remove(this.arm);
    this.arm = new THREE.Group();
    this.world.add(this.arm);
    this.joints = arm.joints;
    this.frameIndex = new Map(arm.frames.map((name, i) => [name, i]));
    this.frameCount = arm.frames.length;
    this.links = [];
    this.housings = [];
    this.shapes = [];
    const notices = [];
    const shaped = new Set();
    for (const v of visuals) {
      const object = await shapeObject(v, readFile, notices);
      if (!object || !this.frameIndex.has(v.frame)) continue;
      const holder = new THREE.Group();
      holder.matrixAutoUpdate = false;
      holder.add(object);
      holder.userData.link = arm.frameLinks ? arm.frameLinks[this.frameIndex.get(v.frame)] : -1;
      this.arm.add(holder);
      this.shapes.push({ holder, frame: this.frameIndex.get(v.frame) });
      shaped.add(v.frame);
    }
    // The figure of every link without shapes (all of them for the built-in arm).
    for (let i = 0; i < arm.joints; ++i) {
      const [type, radius, ox, oy, oz] = arm.figure.slice(5 * i, 5 * i + 5);
      const group = new THREE.Group();
      group.matrixAutoUpdate = false;
      const r = radius > 0 ? radius : 0.05;
      const housing = new THREE.Mesh(
        new THREE.CylinderGeometry(r, r, 2 * r, 24),
        new Surface({ color: grey(kHousingGrey) }),
      );
      // Along the joint's x axis.
      housing.rotation.z = Math.PI / 2;
      group.add(housing);
      const name = arm.fromFile ? null : 'link' + i;
      const bodyShown = !arm.fromFile || !shaped.size;
      if (bodyShown && Math.hypot(ox, oy, oz) > 0)
        group.add(segment(ox, oy, oz, r * 0.6, grey(kBodyGrey)));
      group.userData = { type, name, link: i };
      this.arm.add(group);
      this.links.push(group);
      this.housings.push(housing);
    }
    this.setPoses(arm.poses, arm.state ? arm.state.atLimit : null);
    this.frameArm(arm);
    return notices;
  }

  startCamera(eye, center) {
    this.eye.copy(eye);
    this.center.copy(center);
    this.spin = 0;
    this.tilt = 0;
    this.dirty = true;
  }

  // From above at three quarters, far enough for everything the arm can reach to show: the sphere
  // about its first joint that its links span in any pose.
  frameArm(arm) {
    const p = arm.poses;
    const first = 16 * arm.frames.length;
    const center =
      arm.joints > 0
        ? new THREE.Vector3(p[first + 12], p[first + 13], p[first + 14])
        : new THREE.Vector3();
    let reach = 0;
    for (let i = 0; i < arm.joints; ++i)
      reach += Math.hypot(...arm.figure.slice(5 * i + 2, 5 * i + 5));
    const sphere = new THREE.Sphere(center, reach);
    const radius = Math.max(sphere.radius, 0.3);
    const distance = (0.75 * radius) / Math.sin(THREE.MathUtils.degToRad(45 / 2));
    const eye = new THREE.Vector3(
      Math.cos(kUp) * Math.SQRT1_2,
      -Math.cos(kUp) * Math.SQRT1_2,
      Math.sin(kUp),
    )
      .multiplyScalar(distance)
      .add(sphere.center);
    this.startCamera(eye, sphere.center);
  }

  // The frames' poses and then the links' (16 numbers each, column-major), and which joints are
  // at a limit.
  setPoses(poses, atLimit) {
    const m = new THREE.Matrix4();
    for (const s of this.shapes) {
      s.holder.matrix.copy(m.fromArray(poses, 16 * s.frame));
    }
    for (let i = 0; i < this.links.length; ++i) {
      this.links[i].matrix.copy(m.fromArray(poses, 16 * (this.frameCount + i)));
      const at = atLimit && atLimit[i] !== 0;
      this.housings[i].material.color.copy(at ? kAtLimit : grey(kHousingGrey));
    }
    this.dirty = true;
  }

  // The scene turned and the camera placed as the next frame draws them.
  place() {
    this.world.quaternion
      .setFromAxisAngle(new THREE.Vector3(0, 1, 0), THREE.MathUtils.degToRad(this.tilt))
      .multiply(
        new THREE.Quaternion().setFromAxisAngle(
          new THREE.Vector3(0, 0, 1),
          THREE.MathUtils.degToRad(this.spin),
        ),
      );
    this.camera.position.copy(this.eye);
    this.camera.lookAt(this.center);
    this.camera.near = Math.max(1e-4, this.eye.distanceTo(this.center) / 1000);
    this.camera.updateProjectionMatrix();
    this.scene.updateMatrixWorld();
  }

  draw() {
    if (!this.dirty) return false;
    this.dirty = false;
    this.place();
    if (this.pullMarker.group.visible) {
      // The dot a constant size on the screen, the label beside the cursor's point.
      this.pullMarker.dot.scale.setScalar(this.eye.distanceTo(this.center) / 150);
      const p = this.world.localToWorld(this.pullTarget.clone()).project(this.camera);
      this.pullLabel.style.left = `${((p.x + 1) / 2) * this.canvas.clientWidth + 12}px`;
      this.pullLabel.style.top = `${((1 - p.y) / 2) * this.canvas.clientHeight - 8}px`;
    }
    this.renderer.render(this.scene, this.camera);
    return true;
  }
}

// The force as the window writes it beside the cursor.
export function forceText(newtons) {
  return `${newtons.toFixed(newtons < 10 ? 2 : 1)} N`;
}

// The pull's dot and line, drawn over the arm.
function pullMarker() {
  const material = new THREE.MeshBasicMaterial({ color: kPullColour, depthTest: false });
  const dot = new THREE.Mesh(new THREE.SphereGeometry(1, 12, 8), material);
  const geometry = new THREE.BufferGeometry();
  geometry.setAttribute('position', new THREE.Float32BufferAttribute(new Float32Array(6), 3));
  const line = new THREE.Line(
    geometry,
    new THREE.LineBasicMaterial({ color: kPullColour, depthTest: false }),
  );
  dot.renderOrder = line.renderOrder = 1;
  const group = new THREE.Group();
  group.add(dot, line);
  group.visible = false;
  return { group, dot, line };
}

function grid(size, step) {
  const group = new THREE.Group();
  const points = [];
  for (let x = -size / 2; x <= size / 2 + 1e-9; x += step) {
    points.push(x, -size / 2, 0, x, size / 2, 0, -size / 2, x, 0, size / 2, x, 0);
  }
  const geometry = new THREE.BufferGeometry();
  geometry.setAttribute('position', new THREE.Float32BufferAttribute(points, 3));
  group.add(new THREE.LineSegments(geometry, new THREE.LineBasicMaterial({ color: 0x999999 })));
  const axes = [
    [1, 0, 0, 0xff0000],
    [0, 1, 0, 0x00ff00],
    [0, 0, 1, 0x0000ff],
  ];
  for (const [x, y, z, color] of axes) {
    const g = new THREE.BufferGeometry();
    g.setAttribute(
      'position',
      new THREE.Float32BufferAttribute(
        [0, 0, 0, (x * size) / 2, (y * size) / 2, (z * size) / 2],
        3,
      ),
    );
    group.add(new THREE.Line(g, new THREE.LineBasicMaterial({ color })));
  }
  return group;
}

// A cylinder from the origin to (x, y, z).
function segment(x, y, z, radius, color) {
  const length = Math.hypot(x, y, z);
  const mesh = new THREE.Mesh(
    new THREE.CylinderGeometry(radius, radius, length, 16),
    new Surface({ color }),
  );
  mesh.position.set(x / 2, y / 2, z / 2);
  mesh.quaternion.setFromUnitVectors(
    new THREE.Vector3(0, 1, 0),
    new THREE.Vector3(x, y, z).normalize(),
  );
  return mesh;
}

const loaders = { stl: new STLLoader(), dae: new ColladaLoader(), obj: new OBJLoader() };

// One <visual> as an object in its link's frame, or null (with a notice) for a mesh that cannot be
// read.
async function shapeObject(v, readFile, notices) {
  const colour = v.rgba ? new THREE.Color(v.rgba[0], v.rgba[1], v.rgba[2]) : grey(0.7);
  const material = new Surface({
    color: colour,
    opacity: v.rgba ? v.rgba[3] : 1,
    transparent: !!v.rgba && v.rgba[3] < 1,
  });
  let object = null;
  if (v.kind === 'box') {
    object = new THREE.Mesh(new THREE.BoxGeometry(v.size[0], v.size[1], v.size[2]), material);
  } else if (v.kind === 'cylinder') {
    object = new THREE.Mesh(
      new THREE.CylinderGeometry(v.size[0], v.size[0], v.size[2], 24),
      material,
    );
    object.rotation.x = Math.PI / 2; // along z
  } else if (v.kind === 'sphere') {
    object = new THREE.Mesh(new THREE.SphereGeometry(v.size[0], 24, 16), material);
  } else {
    object = await meshObject(v, readFile, material, notices);
    if (!object) return null;
    object.scale.multiply(new THREE.Vector3(v.size[0], v.size[1], v.size[2]));
  }
  const outer = new THREE.Group();
  outer.position.set(v.xyz[0], v.xyz[1], v.xyz[2]);
  // URDF's rpy: fixed axes x, then y, then z.
  outer.quaternion.setFromEuler(new THREE.Euler(v.rpy[0], v.rpy[1], v.rpy[2], 'ZYX'));
  outer.add(object);
  return outer;
}

async function meshObject(v, readFile, material, notices) {
  const found = await readFile(v.file);
  if (!found) {
    notices.push(`mesh '${v.file}' not found`);
    return null;
  }
  const ext = (found.name.split('.').pop() || '').toLowerCase();
  try {
    if (ext === 'stl') {
      const geometry = loaders.stl.parse(found.data);
      geometry.computeVertexNormals();
      return new THREE.Mesh(geometry, material);
    }
    const text = new TextDecoder().decode(found.data);
    if (ext === 'obj') {
      const object = loaders.obj.parse(text);
      object.traverse((o) => {
        if (o.isMesh) o.material = material;
      });
      return object;
    }
    if (ext === 'dae') {
      // A COLLADA file keeps its own colours; it is in metres with z up once its scene is taken
      // as it stands in the file.
      const collada = loaders.dae.parse(text, '');
      const scene = collada.scene;
      scene.rotation.set(0, 0, 0);
      scene.updateMatrix();
      return scene;
    }
  } catch (error) {
    notices.push(`mesh '${v.file}' cannot be read: ${error.message}`);
    return null;
  }
  notices.push(`mesh '${v.file}' is of a kind the view does not read`);
  return null;
}
