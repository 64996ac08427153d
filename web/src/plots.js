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
    // The controller's reference q* and the error e = q* - q, while a law follows one.
    this.reference = null;
    this.error = null;
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
      if (t.reference && (!this.reference || this.reference.length !== t.reference.length)) {
        // A reference from here on: its plots, padded with gaps before it.
        const gaps = () => Array(this.time.length - 1).fill(null);
        this.reference = t.reference.map(gaps);
        this.error = t.error.map(gaps);
        this.rebuild();
      }
      if (this.reference) {
        this.reference.forEach((r, i) => r.push(t.reference ? t.reference[i] : null));
        this.error.forEach((e, i) => e.push(t.error ? t.error[i] : null));
      }
    }
    const extra = this.time.length - kSpan;
    if (extra > 0) {
      this.time.splice(0, extra);
      for (const a of this.angles) a.splice(0, extra);
      for (const e of this.energies) e.splice(0, extra);
      for (const r of [...(this.reference || []), ...(this.error || [])]) r.splice(0, extra);
    }
    this.changed = true;
  }

  rebuild() {
    for (const c of this.charts) c.destroy();
    this.charts = [];
    this.element.replaceChildren();
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
    if (this.reference) {
      const task = this.reference.length !== this.names.length;
      const labels = task ? ['x', 'y', 'z'] : this.names;
      this.charts.push(chart('Reference q*', labels, task ? 'm' : 'rad'));
      this.charts.push(chart('Error e = q* - q', labels, task ? 'm' : 'rad'));
    }
  }

  draw() {
    if (!this.visible || !this.changed) return;
    if (this.charts.length === 0) this.make();
    this.changed = false;
    this.charts[0].setData([this.time, ...this.angles]);
    this.charts[1].setData([this.time, ...this.energies]);
    if (this.reference) {
      this.charts[2].setData([this.time, ...this.reference]);
      this.charts[3].setData([this.time, ...this.error]);
    }
  }
}
