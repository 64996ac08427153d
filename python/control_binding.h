// The controllers as Python holds them: settings (control/control_settings.h) that a Simulation's
// controller takes; one class per law, all of them velmoth.Controller.
#pragma once

#include <pybind11/pybind11.h>

#include "control/control_settings.h"
#include "python/bindings.h"

namespace py = pybind11;

struct ControllerObject {
  VELMOTH_ZEROED_NEW

  ControllerSettings settings;
  bool made = false;  // false for an object Python made without __init__
};
struct GravityObject : ControllerObject {};
struct PdObject : ControllerObject {};
struct ComputedTorqueObject : ControllerObject {};
struct TaskPdObject : ControllerObject {};

void BindControl(py::module_& m);

// The settings of a Simulation's controller argument: None (the typed torques alone) or a
// velmoth.Controller whose vectors fit the arm (TypeError, ValueError otherwise).
ControllerSettings CheckedController(py::handle controller, const ArmModel& arm);

// The Python object of these settings: None for the typed torques alone.
py::object ControllerObjectOf(const ControllerSettings& settings);
