#include "visuals/visual_model.h"

void VisualShape::Bounds(double low[3], double high[3]) const {
  for (int i = 0; i < 3; ++i) {
    switch (kind) {
      case ShapeKind::kBox:
        high[i] = 0.5 * size[i];
        low[i] = -high[i];
        break;
      case ShapeKind::kCylinder:
        high[i] = i < 2 ? size[i] : 0.5 * size[2];
        low[i] = -high[i];
        break;
      case ShapeKind::kSphere:
        high[i] = size[i];
        low[i] = -high[i];
        break;
      case ShapeKind::kMesh: {
        const double a = mesh ? size[i] * mesh->low[i] : 0.0;
        const double b = mesh ? size[i] * mesh->high[i] : 0.0;
        low[i] = a < b ? a : b;  // a negative scale mirrors
        high[i] = a < b ? b : a;
        break;
      }
    }
  }
}
