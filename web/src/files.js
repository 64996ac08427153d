// The arms the page opens: the samples it carries, and a user's URDF file chosen or dropped with
// the folders beside it. A mesh's name is resolved as the desktop program resolves it, inside what
// was opened: package://NAME/PATH (and model://) is PATH in the folder of package NAME (a folder
// called NAME, or one whose package.xml names NAME), file:// and bare paths from the file's own
// folder.

export const samples = [
  { id: 'built-in', label: 'built-in arm' },
  { id: 'arm7_gripper.urdf', label: 'arm7_gripper' },
  { id: 'double_pendulum.urdf', label: 'double_pendulum' },
  { id: 'industrial6.urdf', label: 'industrial6' },
  { id: 'planar_3link.urdf', label: 'planar_3link' },
  { id: 'puma560.urdf', label: 'puma560' },
  { id: 'scara.urdf', label: 'scara' },
];

// The samples lie in samples/, their package (velmoth_examples) being that folder.
export async function openSample(id) {
  const response = await fetch('samples/' + id);
  const text = await response.text();
  const files = new Map();
  const read = async (uri) => {
    const path = resolve(uri, '', (name) => (name === 'velmoth_examples' ? [''] : []));
    if (path === null) return null;
    if (!files.has(path)) {
      files.set(
        path,
        fetch('samples/' + path).then((r) => (r.ok ? r.arrayBuffer() : null)),
      );
    }
    const data = await files.get(path);
    return data ? { data, name: path } : null;
  };
  return { text, source: id, read };
}

// entries: [{file, path}] with paths inside what was opened ("robot/urdf/arm.urdf"). The first
// .urdf file (by path) is the arm.
export async function openDropped(entries) {
  const byPath = new Map(entries.map((e) => [e.path, e.file]));
  const urdfs = entries
    .filter((e) => /\.urdf$/i.test(e.path))
    .sort((a, b) => a.path.localeCompare(b.path));
  if (urdfs.length === 0) return null;
  const chosen = urdfs[0];
  const text = await chosen.file.text();
  const folder = chosen.path.includes('/')
    ? chosen.path.slice(0, chosen.path.lastIndexOf('/'))
    : '';
  // The package folders by name: every folder's own name, and the names their package.xml give.
  const packages = new Map();
  const add = (name, dir) => {
    if (!packages.has(name)) packages.set(name, []);
    packages.get(name).push(dir);
  };
  const folders = new Set(['']);
  for (const path of byPath.keys()) {
    const parts = path.split('/');
    for (let k = 1; k < parts.length; ++k) folders.add(parts.slice(0, k).join('/'));
  }
  for (const dir of folders) {
    if (dir) add(dir.split('/').pop(), dir);
    const manifest = byPath.get(dir ? dir + '/package.xml' : 'package.xml');
    if (manifest) {
      const match = /<name>\s*([^<\s]+)\s*<\/name>/.exec(await manifest.text());
      if (match) add(match[1], dir);
    }
  }
  // The folder of the file and those above it come last, as the desktop program looks there last.
  const above = [];
  for (let dir = folder; ; dir = dir.includes('/') ? dir.slice(0, dir.lastIndexOf('/')) : '') {
    above.push(dir);
    if (dir === '') break;
  }
  const packageFolders = (name) => [
    ...(packages.get(name) || []),
    ...above.filter((d) => byPath.has(join(d, 'package.xml')) || d.split('/').pop() === name),
  ];
  const read = async (uri) => {
    const path = resolve(uri, folder, packageFolders, (p) => byPath.has(p));
    const file = path !== null ? byPath.get(path) : null;
    return file ? { data: await file.arrayBuffer(), name: path } : null;
  };
  return { text, source: chosen.path, read };
}

function join(dir, path) {
  return dir ? dir + '/' + path : path;
}

// The path inside what was opened that uri names, or null. exists tells whether a path is there
// (without it, the first candidate is taken).
export function resolve(uri, folder, packageFolders, exists = () => true) {
  const scheme = /^(package|model):\/\/([^/]+)\/(.*)$/.exec(uri);
  if (scheme) {
    for (const dir of packageFolders(scheme[2])) {
      const path = normalise(join(dir, scheme[3]));
      if (path !== null && exists(path)) return path;
    }
    return null;
  }
  const bare = uri.startsWith('file://') ? uri.slice('file://'.length) : uri;
  // An absolute file name is taken inside what was opened, by its name below the file's folder.
  const path = normalise(bare.startsWith('/') ? bare.split('/').pop() : join(folder, bare));
  return path !== null && exists(path) ? path : null;
}

// "a/./b/../c" as "a/c"; null when it leaves what was opened.
function normalise(path) {
  const out = [];
  for (const part of path.split('/')) {
    if (part === '' || part === '.') continue;
    if (part === '..') {
      if (out.length === 0) return null;
      out.pop();
    } else out.push(part);
  }
  return out.join('/');
}
