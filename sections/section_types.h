// Value types read from and written to data sections.
#pragma once

#include <string>

struct Vector2 {
  float x = 0, y = 0;
  bool operator==(const Vector2& o) const { return x == o.x && y == o.y; }
};

struct Vector3 {
  float x = 0, y = 0, z = 0;
  bool operator==(const Vector3& o) const { return x == o.x && y == o.y && z == o.z; }
};

struct Vector4 {
  float x = 0, y = 0, z = 0, w = 0;
  bool operator==(const Vector4& o) const {
    return x == o.x && y == o.y && z == o.z && w == o.w;
  }
};

// Four rows of four floats, row-major. Matrices read from sections always have (0, 0, 0, 1) as
// their fourth column.
struct Matrix {
  float m[4][4] = {};
  bool operator==(const Matrix& o) const {
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c)
        if (m[r][c] != o.m[r][c]) return false;
    return true;
  }
};

// Text of 16-bit characters.
using WideText = std::u16string;
