// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "motion.h"

#include <cmath>
#include <optional>

namespace Vorna::Backend::Motion {

namespace {

constexpr double degreesPerRadian = 57.29577951308232;

double length(const Vector &v)
{
    return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
}

Vector cross(const Vector &a, const Vector &b)
{
    return { a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x };
}

int degrees(double radians)
{
    return int(std::lround(radians * degreesPerRadian));
}

} // namespace

KvOrientation::Orientation orientation(const Vector &accel, KvOrientation::Orientation previous)
{
    const double g = length(accel);
    if (g < restingMin * 1000 || g > restingMax * 1000)
        return previous;
    // Within poseAngle of the screen's axis the device lies flat; lying flat
    // it stays until it leaves that cone, so that it does not flicker
    // against an edge pose at the border.
    const double within = std::cos(poseAngle / degreesPerRadian) * g;
    const auto flat = [&]() -> std::optional<KvOrientation::Orientation> {
        if (accel.z >= within)
            return KvOrientation::FaceUp;
        if (accel.z <= -within)
            return KvOrientation::FaceDown;
        return std::nullopt;
    };
    if ((previous == KvOrientation::FaceUp || previous == KvOrientation::FaceDown) && flat())
        return *flat();
    // The edge poses as iio-sensor-proxy takes them: an edge raised more
    // than edgeAngle out of the level plane, the left or right edge first;
    // both at once is the border between two poses, where the last stays.
    const double sideways = std::atan2(accel.x, std::hypot(accel.y, accel.z)) * degreesPerRadian;
    const double upright = std::atan2(accel.y, std::hypot(accel.x, accel.z)) * degreesPerRadian;
    const bool side = std::abs(std::round(sideways)) > edgeAngle;
    const bool end = std::abs(std::round(upright)) > edgeAngle;
    if (side && end)
        return previous;
    if (side)
        return sideways > 0 ? KvOrientation::RightUp : KvOrientation::LeftUp;
    if (end)
        return upright > 0 ? KvOrientation::BottomDown : KvOrientation::BottomUp;
    return flat().value_or(previous);
}

int pitch(const Vector &accel)
{
    return degrees(std::atan2(accel.y, accel.z));
}

int roll(const Vector &accel)
{
    return degrees(std::atan2(accel.x, std::sqrt(accel.y * accel.y + accel.z * accel.z)));
}

int heading(const Vector &accel, const Vector &field)
{
    // North, east and down in the device's frame: down is against the
    // measured reaction, east is across down and the field, north across
    // east and down. The heading is where the top edge (y) points.
    const Vector down { -accel.x, -accel.y, -accel.z };
    const Vector east = cross(down, field);
    const Vector north = cross(east, down);
    if (length(east) < 1e-9 || length(north) < 1e-9)
        return -1;
    const int h = degrees(std::atan2(east.y / length(east), north.y / length(north)));
    return (h % 360 + 360) % 360;
}

} // namespace Vorna::Backend::Motion
