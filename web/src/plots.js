// The live plots, as the window's: the joint angles and the energies (kinetic, potential, total)
// over the last ten seconds of simulated time (since the arm was loaded), drawn with uPlot at most every frame they are shown.
import uPlot from 'uplot';

const kSpan = 1000; // ticks kept: 10 s
const kColours = [
  '#1f77b4',
  '#d62728',
  '#2ca02c',
  '#9467bd',
  '#ff7f0e',
  '#17becf',
  '#8c564b',
  '#e377c2',
];

export class Plots {
  constructor(element) {
    this.element = element;
    this.visible = false;
    this.charts = [];
    this.setArm([]);
  }

  setArm(names) {
    this.names = names;
    this.clear();
  }

  clear() {
    const n = this.names.length;
    this.time = [];
    this.angles = Array.from({ length: n }, () => []);
    this.energies = [[], [], []];
    this.changed = true;
    for (const c of this.charts) c.destroy();
    this.charts = [];
    this.element.replaceChildren();
  }

  add(ticks) {
    for (const t of ticks) {
      this.time.push(t.serial * 0.01);
      t.q.forEach((q, i) => this.angles[i] && this.angles[i].push(q));
      this.energies[0].push(t.kinetic);
      this.energies[1].push(t.potential);
      this.energies[2].push(t.kinetic + t.potential);
    }
    const extra = this.time.length - kSpan;
    if (extra > 0) {
      this.time.splice(0, extra);
      for (const a of this.angles) a.splice(0, extra);
      for (const e of this.energies) e.splice(0, extra);
    }
    this.changed = true;
  }

  make() {
    const width = Math.max(200, this.element.clientWidth - 16);
    const series = (label, i) => ({ label, stroke: kColours[i % kColours.length], width: 1.5 });
    const chart = (title, labels, unit) =>
      new uPlot(
        {
          title,
          width,
          height: 220,
          scales: { x: { time: false } },
          axes: [{ label: 't (s)' }, { label: unit }],
          series: [{ label: 't' }, ...labels.map(series)],
        },
        [[]],
        this.element,
      );
    this.charts = [
      chart('Joint angles', this.names, 'rad'),
      chart('Energies', ['kinetic', 'potential', 'total'], 'J'),
    ];
  }

  draw() {
    if (!this.visible || !this.changed) return;
    if (this.charts.length === 0) this.make();
    this.changed = false;
    this.charts[0].setData([this.time, ...this.angles]);
    this.charts[1].setData([this.time, ...this.energies]);
  }
}
