#include "simulation/step_report.h"

#include <cstdio>

#include "dynamics/dynamics.h"

namespace {

std::string TickText(uint64_t tick) {
  char text[64];
  std::snprintf(text, sizeof text, "tick %llu (t = %.2f s)", static_cast<unsigned long long>(tick),
                static_cast<double>(tick) * kTimeStep);
  return text;
}

bool FixedStep(IntegratorKind integrator) {
  return integrator == IntegratorKind::kEuler || integrator == IntegratorKind::kRk4;
}

}  // namespace

std::string DivergenceMessage(const StepReport& report, uint64_t tick) {
  const std::string step = StepOptionsText(report.step);
  std::string text = "the state diverged at " + TickText(tick) + ": ";
  char number[64];
  std::snprintf(number, sizeof number, "%.3g J", report.gained);
  if (!report.inputsFinite) {
    return text + "the " + (report.forward ? "torques" : "accelerations") +
           " given are not all numbers (" + step + " is not the cause); give finite ones";
  }
  if (!report.forward) {
    return text + "the accelerations given move the arm faster than numbers can hold (" + step +
           "); give smaller ones";
  }
  if (report.step.integrator == IntegratorKind::kDopri5) {
    if (report.unphysical) {
      return text + "the error-controlled step (" + step + ") made " + number +
             " without work once the tick reached its cap and loosened its tolerance; a tighter "
             "tolerance, or smaller torques";
    }
    return text + "the error-controlled step (" + step + ") " +
           (report.capped ? "reached its cap of internal steps and its last step went astray"
                          : "met an equation of motion whose numbers are not finite") +
           "; smaller torques, or a looser tolerance";
  }
  if (report.step.integrator == IntegratorKind::kImplicit) {
    return text + "the implicit step (" + step + ") made " +
           (report.unphysical ? number : std::string("energy")) +
           " without work where halving its substeps no longer helped; more substeps, or the "
           "error-controlled step (dopri5)";
  }
  // A fixed step: Euler or RK4 on either engine.
  char fixed[160];
  std::snprintf(fixed, sizeof fixed, "the fixed %g s step (%s) is too coarse for motion this fast",
                kTimeStep / report.step.substeps, step.c_str());
  text += fixed;
  if (report.unphysical) {
    text += std::string(" (it made ") + number + " without work)";
  }
  return text + "; more substeps, or the error-controlled step (dopri5)";
}

std::string CapMessage(const StepReport& report, uint64_t tick) {
  const std::string step = StepOptionsText(report.step);
  std::string text = TickText(tick) + " reached the cap of internal steps per tick (" + step + ")";
  if (report.step.integrator == IntegratorKind::kDopri5) {
    char stiff[160] = "";
    if (report.stiffSteps > 0) {
      std::snprintf(stiff, sizeof stiff,
                    ", %d of them of the additive pair for stiff viscous friction (it damps at "
                    "%.3g/s)",
                    report.stiffSteps, report.stiffness);
    }
    return text + " after " + std::to_string(report.steps) + " steps" + stiff +
           " and ended at a looser tolerance, coarser than asked (a whip, or impacts in quick "
           "succession); a looser tolerance, or smaller torques";
  }
  if (report.step.integrator == IntegratorKind::kImplicit) {
    return text +
           ": a substep halved the most times it may, and it ended at the accuracy that allows, "
           "coarser than asked; more substeps, or the error-controlled step (dopri5)";
  }
  if (FixedStep(report.step.integrator)) {
    return text +
           ": it located the most events a tick may and took the rest without locating more, "
           "coarser than asked; more substeps, or the error-controlled step (dopri5)";
  }
  return text + " and ended at the accuracy the cap allows, coarser than asked";
}

std::string BalanceCause(const StepOptions& step) {
  const std::string name = StepOptionsText(step);
  if (step.integrator == IntegratorKind::kDopri5) {
    return "the error-controlled step (" + name +
           ") is too loose for this motion; a tighter tolerance";
  }
  if (step.integrator == IntegratorKind::kImplicit) {
    return "the implicit step (" + name +
           ") is too coarse for this motion; more substeps, or the error-controlled step (dopri5)";
  }
  char text[160];
  std::snprintf(text, sizeof text, "the fixed %g s step (%s) is too coarse for this motion",
                kTimeStep / step.substeps, name.c_str());
  return std::string(text) + "; more substeps, or the error-controlled step (dopri5)";
}

std::string BalanceMessage(const StepReport& report, uint64_t tick) {
  char text[160];
  std::snprintf(text, sizeof text,
                " left the energy balance off by %.3g J, %.3g of the motion's energy (%.3g J): ",
                report.gained, report.motion > 0.0 ? report.gained / report.motion : 0.0,
                report.motion);
  return TickText(tick) + text + BalanceCause(report.step);
}
