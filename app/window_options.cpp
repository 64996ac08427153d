#include "app/window_options.h"

#include <cstdio>
#include <string>
#include <tuple>

#include <CLI/CLI.hpp>

#include "app/velmoth_app.h"
#include "simulation/command_line.h"

namespace {

constexpr int kGoOn = -1;
constexpr int kUsageStatus = 2;

const char* const kArms =
    "The arm is the built-in chain of identical 1 kg, 0.3 m links turning about x (--links), or\n"
    "the arm of a URDF file (--urdf): one chain of its tree, to where it parts or to --tip,\n"
    "the joints off it held fixed. Its joints stop at the file's limits, an inelastic\n"
    "impact, and rest there while pushed into them (--limits off lets them pass), and take\n"
    "the file's <dynamics damping friction> where it gives them (--friction).\n"
    "The view draws the shapes the file gives its links (boxes, cylinders, spheres, COLLADA,\n"
    "STL and OBJ meshes; package:// meshes are looked for in --package-path, ROS_PACKAGE_PATH\n"
    "and the folders above FILE), read while the window runs: the arm is drawn as joints and\n"
    "bodies until its meshes are read. A mesh it cannot read, or refuses (only regular files,\n"
    "within caps of size and work), is said in the strip and its link drawn as joints and\n"
    "bodies.\n"
    "The built-in arm runs on the closed form with the Euler step, an arm from a file on the\n"
    "recursive engine with the error-controlled dopri5 step (see velmoth-sim --help); the strip\n"
    "below the view switches them while the arm runs. TEXT is vector text and X a number as\n"
    "the panel reads them, e.g. \"0.5, -1\"; --viscous, --coulomb and --gravity fill the\n"
    "panel's fields as if \"Set\" had been clicked (so every joint takes --viscous and\n"
    "--coulomb, unless --friction file). \"Reset\" puts every joint at zero (or at the\n"
    "nearest limit), at rest, whatever the start.\n";
const char* const kControl =
    "The controller options start the arm under a controller, as velmoth-sim run's do; the\n"
    "control lab at the window's right edge (F4) then shows it, changes it while the arm\n"
    "runs, and holds the teach panel: a slider per joint that poses the paused arm, or sets\n"
    "the target of pd, computed-torque and task-pd while it runs, and the tool's position and\n"
    "roll-pitch-yaw.\n";
const char* const kKeys =
    "In the window: F4 shows and hides the control lab, F5 pauses and resumes, F6 runs a\n"
    "single tick, F7 and F8 halve and double the speed (1/16 to 1), F9 opens the live plots,\n"
    "F10 starts and stops a recording, F11 saves a screenshot of the view, F12 switches\n"
    "between the file's shapes and the figure of joints and bodies, Home fits the arm into\n"
    "the view and Shift+Home restores the starting view, wherever the focus is; F1 shows the\n"
    "help, Escape ends the program. Ctrl and a left drag on a link pull its point with a\n"
    "spring to the cursor (the wheel changes the stiffness) while the ticks run, F6's too.\n"
    "Recordings and screenshots go to the documents folder (or the folder of the first\n"
    "recording). A recording's tick column counts the ticks since it started.\n";

// Writes text to standard output: 0 when it arrived, 1 when it could not be written.
int Print(const std::string& text) {
  const bool written = std::fputs(text.c_str(), stdout) >= 0;
  return written && std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int ParseWindowOptions(int argc, char** argv, WindowOptions& options) {
  CLI::App app(
      "Velmoth: an interactive simulator of the rigid-body dynamics of a serial robot arm. The\n"
      "control panel sets joint torques (forward dynamics) or accelerations (inverse dynamics),\n"
      "friction and gravity; the 3-D view shows the arm as it moves.",
      "velmoth");
  app.set_version_flag("--version", std::string("velmoth ") + kApplicationVersion,
                       "Print the version and exit");
  app.add_option("--record", options.record,
                 "Record every tick to FILE as CSV from the start (as velmoth-sim run prints it)")
      ->type_name("FILE")
      ->check(FileName());
  app.add_option("--urdf", options.urdf, "Simulate an arm of a URDF file")
      ->type_name("FILE")
      ->check(FileName());
  app.add_option("--tip", options.tip,
                 "With --urdf: the link the arm's chain ends at (default: where the chain parts)")
      ->type_name("LINK");
  app.add_option("--package-path", options.packagePaths,
                 "With --urdf: a folder where package://NAME meshes are looked for (the package "
                 "NAME, or a folder holding it), before ROS_PACKAGE_PATH and the folders above "
                 "FILE; repeatable")
      ->type_name("DIR")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--links", options.links,
                 "Number of links of the built-in arm, 0 to 100 (default: 6)")
      ->type_name("N")
      ->check(WholeNumber(0, 100));
  app.add_option("--q0", options.q0, "Joint positions at the start (default: all 0)")
      ->type_name("TEXT");
  app.add_option("--qd0", options.qd0, "Joint velocities at the start (default: all 0)")
      ->type_name("TEXT");
  std::string viscous, coulomb, gravity;
  CLI::Option* viscousOption =
      app.add_option("--viscous", viscous, "Viscous friction coefficient (default: 0.1)")
          ->type_name("X");
  CLI::Option* coulombOption =
      app.add_option("--coulomb", coulomb, "Coulomb friction coefficient (default: 0.1)")
          ->type_name("X");
  CLI::Option* gravityOption =
      app.add_option("--gravity", gravity, "Gravity, 3 elements (default: 0, 0, -9.81)")
          ->type_name("TEXT");
  AddStepOptions(app, options.step);
  AddPhysicsOptions(app, options.physics);
  AddControlOptions(app, options.control);
  AddForceOptions(app, options.push);
  app.footer(std::string(kArms) + "\n" + kControl + "\n" + kKeys);

  std::vector<const char*> args(argv, argv + argc);
  std::deque<std::string> names;
  GiveEmptyValues(args, names);
  try {
    app.parse(static_cast<int>(args.size()), args.data());
  } catch (const CLI::CallForHelp&) {
    return Print(app.help());
  } catch (const CLI::CallForVersion& e) {
    return Print(std::string(e.what()) + "\n");
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "velmoth: %s\n", ParseErrorLine(e).c_str());
    return kUsageStatus;
  }
  options.linksGiven = app.count("--links") > 0;
  if (options.linksGiven && app.count("--urdf") > 0) {
    std::fputs("velmoth: --links and --urdf cannot be given together\n", stderr);
    return kUsageStatus;
  }
  if (app.count("--tip") > 0 && app.count("--urdf") == 0) {
    std::fputs("velmoth: --tip chooses the end of a URDF file's chain and needs --urdf\n", stderr);
    return kUsageStatus;
  }
  if (const std::string problem = CheckControlChoice(app, options.control); !problem.empty()) {
    std::fprintf(stderr, "velmoth: %s\n", problem.c_str());
    return kUsageStatus;
  }
  if (app.count("--package-path") > 0 && app.count("--urdf") == 0) {
    std::fputs("velmoth: --package-path finds the meshes of a URDF file and needs --urdf\n",
               stderr);
    return kUsageStatus;
  }
  // As the panel's "Set" reads its fields; given but empty reads as 0.
  for (auto [option, text, into] : {std::tuple{viscousOption, &viscous, &options.viscous},
                                    std::tuple{coulombOption, &coulomb, &options.coulomb},
                                    std::tuple{gravityOption, &gravity, &options.gravity}}) {
    if (option->count() > 0) {
      *into = *text;
    }
  }
  return kGoOn;
}
