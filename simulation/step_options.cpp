#include "simulation/step_options.h"

#include <cstdio>

namespace {

constexpr struct {
  EngineKind kind;
  const char* name;
} kEngines[] = {{EngineKind::kClosedForm, "closed-form"}, {EngineKind::kRecursive, "recursive"}};

constexpr struct {
  IntegratorKind kind;
  const char* name;
} kIntegrators[] = {{IntegratorKind::kEuler, "euler"},
                    {IntegratorKind::kImplicit, "implicit"},
                    {IntegratorKind::kRk4, "rk4"},
                    {IntegratorKind::kDopri5, "dopri5"}};

}  // namespace

const char* EngineName(EngineKind engine) {
  for (const auto& e : kEngines) {
    if (e.kind == engine) {
      return e.name;
    }
  }
  return "?";
}

const char* IntegratorName(IntegratorKind integrator) {
  for (const auto& i : kIntegrators) {
    if (i.kind == integrator) {
      return i.name;
    }
  }
  return "?";
}

std::optional<EngineKind> EngineNamed(const std::string& name) {
  for (const auto& e : kEngines) {
    if (name == e.name) {
      return e.kind;
    }
  }
  return std::nullopt;
}

std::optional<IntegratorKind> IntegratorNamed(const std::string& name) {
  for (const auto& i : kIntegrators) {
    if (name == i.name) {
      return i.kind;
    }
  }
  return std::nullopt;
}

StepOptions DefaultStepOptions(bool fromFile) {
  if (!fromFile) {
    return {EngineKind::kClosedForm, IntegratorKind::kEuler, 1, kDefaultTolerance};
  }
  return {EngineKind::kRecursive, IntegratorKind::kDopri5, 1, kDefaultTolerance};
}

std::string StepOptionsText(const StepOptions& options) {
  std::string text =
      std::string(EngineName(options.engine)) + ", " + IntegratorName(options.integrator);
  if (options.substeps != 1) {
    text += " x " + std::to_string(options.substeps);
  }
  if (options.integrator == IntegratorKind::kDopri5) {
    text += ", tolerance " + ToleranceText(options.tolerance);
  }
  return text;
}

std::string ToleranceText(double tolerance) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", tolerance);
  return text;
}
