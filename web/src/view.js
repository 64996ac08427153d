// The 3-D view, as the window's: the floor grid of 5 x 5 m with the world axes, the arm as its
// figure (housings at the joints, bodies between them; orange at a limit) or by its file's shapes,
// and the window's camera: eye and look-at point with z up, the scene turned by tilt (about y) and
// spin (about z). Left drag turns (100 degrees per 360 pixels), right drag pans, the wheel zooms
// (0.9 or 1.1 of the distance a step).
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

const grey = (g) => new THREE.Color(g, g, g);

export class ArmView {
  constructor(canvas) {
    this.canvas = canvas;
    this.renderer = new THREE.WebGLRenderer({
      canvas,
      antialias: true,
      preserveDrawingBuffer: true,
    });
    this.renderer.setPixelRatio(window.devicePixelRatio || 1);
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
    let mode = 0;
    let last = null;
    const c = this.canvas;
    c.addEventListener('contextmenu', (e) => e.preventDefault());
    c.addEventListener('pointerdown', (e) => {
      mode = e.button === 0 ? 1 : e.button === 2 ? 2 : e.button === 1 ? 3 : 0;
      last = { x: e.clientX, y: e.clientY };
      if (mode) c.setPointerCapture(e.pointerId);
    });
    c.addEventListener('pointerup', () => {
      mode = 0;
    });
    c.addEventListener('pointermove', (e) => {
      if (!mode || e.buttons === 0) return;
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
        new THREE.MeshStandardMaterial({ color: grey(kHousingGrey) }),
      );
      // Along the joint's x axis.
      housing.rotation.z = Math.PI / 2;
      group.add(housing);
      const name = arm.fromFile ? null : 'link' + i;
      const bodyShown = !arm.fromFile || !shaped.size;
      if (bodyShown && Math.hypot(ox, oy, oz) > 0)
        group.add(segment(ox, oy, oz, r * 0.6, grey(kBodyGrey)));
      group.userData = { type, name };
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

  draw() {
    if (!this.dirty) return false;
    this.dirty = false;
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
    this.renderer.render(this.scene, this.camera);
    return true;
  }
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
    new THREE.MeshStandardMaterial({ color }),
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
  const material = new THREE.MeshStandardMaterial({
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
