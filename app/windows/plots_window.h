// PlotsWindow: live plots of the run, beside the main window. Four charts, each over the last
// 10 s of simulated time and scrolling with it (a tick every 2 s): the kinetic, potential and total
// energy with the work of the torques and the energy friction took; the energy balance's residual
// E - E0 - W + D under it; the joint angles; and the panel's output (the accelerations in forward
// mode, the torques in inverse mode). While a controller acts, two more: the tracking error
// e = q* - q per joint (for task-pd the tool's x* - x per axis) and the torques applied against the
// joints' efforts (dotted at +-effort); and the joint angles' chart shows the reference q* dotted.
// The value axes label their ticks with as many digits as they need.
// A dashed vertical line marks each "Reset". The charts are drawn from the trace buffer at most 30
// times per second, and only when it changed: a paused run leaves them still. Each joint has its
// own colour, the same in every chart (twelve colours, then the same colours dashed, dotted, ...),
// and the name its description gives it.
#pragma once

#include <QColor>
#include <QPen>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <vector>

class QChart;
class QChartView;
class QLineSeries;
class QValueAxis;
class TraceBuffer;

class PlotsWindow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kRefreshMs = 34;  // at most 30 refreshes per second
  static constexpr double kSpanSeconds = 10.0;
  // The time axis has a tick at every whole multiple of this many seconds.
  static constexpr double kTimeTickSeconds = 2.0;
  // At most this many points of a line are drawn: the charts are about as wide in pixels.
  static constexpr uint32_t kMaxPoints = 500;
  // Above this many joints the angle and output charts show no legend.
  static constexpr uint32_t kMaxLegendJoints = 12;

  // The joints have as many distinct colours; beyond, the colours come again with another line
  // style.
  static constexpr int kJointColours = 12;

  // jointNames names the joints, base first (joint0, joint1, ... where it has too few).
  explicit PlotsWindow(const TraceBuffer& traces, const QStringList& jointNames = {},
                       QWidget* parent = nullptr);

  // The pen of joint j's lines.
  static QPen JointPen(uint32_t j);
  // The printf format of a value axis from low to high with ticks evenly spaced ticks: as many
  // decimals as write every tick exactly, or, for values from 100,000 up or below 0.001, as many
  // digits in exponent notation.
  static QString ValueLabelFormat(double low, double high, int ticks);

  // The charts: 0 energies, 1 joint angles, 2 the panel's output, 3 the balance's residual (shown
  // second), 4 the tracking error and 5 the torques applied (shown while a controller acts).
  QChart* Chart(int index) const;
  bool ChartShown(int index) const;
  // The lines drawn beside a chart's own: the references q* of chart 1, the efforts of chart 5
  // (two per joint with one, in the joints' order).
  const std::vector<QLineSeries*>& Extras(int index) const;

  // The joints' efforts, for the torques' chart (inf: none).
  void SetEfforts(std::vector<double> efforts);
  // How often the charts have been drawn anew.
  int Refreshes() const { return refreshes_; }

  // Draws the charts from the trace buffer if it changed since the last time.
  void Refresh();

 private:
  struct Plot {
    QChartView* view = nullptr;
    QChart* chart = nullptr;
    QValueAxis* x = nullptr;
    QValueAxis* y = nullptr;
    std::vector<QLineSeries*> lines;
    std::vector<QLineSeries*> extras;  // drawn with the lines, out of the legend
    std::vector<QLineSeries*> markers;
  };

  void AddPlot(const QString& title, const QString& unit);
  // Makes sure a plot has count lines, named by name(i).
  void SetLines(Plot& plot, uint32_t count, const std::function<QString(uint32_t)>& name,
                bool joints);
  // Makes sure a plot has count extra lines drawn with pen(i).
  void SetExtras(Plot& plot, uint32_t count, const std::function<QPen(uint32_t)>& pen);
  // points: the lines', then the extras'.
  void Draw(Plot& plot, const std::vector<QList<QPointF>>& points, double from, double to);

  QString JointLabel(uint32_t j) const;

  const TraceBuffer& traces_;
  QStringList jointNames_;
  std::vector<Plot> plots_;
  QTimer timer_;
  uint64_t drawnVersion_ = ~uint64_t{0};
  int outputMode_ = 0;
  int errorTask_ = -1;  // what chart 4 shows: 0 the joints' errors, 1 the tool's, -1 nothing yet
  std::vector<double> efforts_;
  int refreshes_ = 0;
};
