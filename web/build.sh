#!/usr/bin/env bash
# build.sh OUT: builds the page into the folder OUT (static files only, for any web server): the
# engine compiled to WebAssembly with its libraries, the page's scripts, three.js and uPlot from
# npm (web/package-lock.json), and the samples. Every step is idempotent: a second run rebuilds
# only what changed.
set -euo pipefail
web=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$web")
out=$1
build=$root/build/web
deps=$root/build/web-deps
# Debian's Emscripten runs its optimiser on Debian's acorn, which lives where Debian's Node.js
# looks for modules.
export NODE_PATH=${NODE_PATH:+$NODE_PATH:}/usr/share/nodejs

"$web/deps/fetch-sources.sh" "$deps/src"
"$web/deps/build-deps.sh" "$deps/src" "$deps/prefix"
if [ ! -f "$build/CMakeCache.txt" ]; then
  emcmake cmake -S "$web" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_FIND_ROOT_PATH="$deps/prefix" >/dev/null
fi
cmake --build "$build" -j2 --target velmoth_engine

# The npm packages, as the lock file has them.
if [ ! -f "$web/node_modules/.package-lock.json" ] ||
  [ "$web/package-lock.json" -nt "$web/node_modules/.package-lock.json" ]; then
  (cd "$web" && npm ci --no-audit --no-fund --loglevel=error)
fi

rm -rf "$out.new"
mkdir -p "$out.new"/{engine,src,lib/three/addons/loaders,samples}
cp "$web/index.html" "$root/app/icons/velmoth.svg" "$out.new/"
cp "$web"/src/*.js "$web"/src/*.css "$out.new/src/"
cp "$build"/engine/velmoth_engine.{js,wasm} "$out.new/engine/"
three=$web/node_modules/three
cp "$three"/build/three.module.js "$three"/build/three.core.js "$out.new/lib/three/"
for loader in STLLoader ColladaLoader TGALoader OBJLoader; do
  cp "$three/examples/jsm/loaders/$loader.js" "$out.new/lib/three/addons/loaders/"
done
cp -r "$three/examples/jsm/loaders/collada" "$out.new/lib/three/addons/loaders/"
cp "$web"/node_modules/uplot/dist/uPlot.esm.js "$web"/node_modules/uplot/dist/uPlot.min.css \
  "$out.new/lib/"
cp "$root"/examples/*.urdf "$root"/examples/package.xml "$out.new/samples/"
mkdir -p "$out.new/samples/meshes"
cp -r "$root"/examples/meshes/*/ "$out.new/samples/meshes/"
rm -rf "$out"
mv "$out.new" "$out"
echo "The page is in $out ($(du -sh "$out" | cut -f1))"
