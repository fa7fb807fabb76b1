// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_MOTION_H
#define KVSYSTEM_SRC_MOTION_H

// What a sensor daemon derives from the accelerometer and the magnetometer:
// the side that faces up, the device's tilt, and the compass heading.
//
// Vectors are in the device's frame as the kernel's IIO drivers give it:
// x towards the right edge, y towards the top edge, z out of the screen.
// The accelerometer measures the reaction to gravity, so a device lying
// face up reads +1 g on z; the magnetometer points to magnetic north and,
// in the northern hemisphere, down into the ground.

#include "kvorientation.h"

namespace Vorna::Backend::Motion {

struct Vector
{
    double x = 0;
    double y = 0;
    double z = 0;
};

// An edge pose is taken when that edge is raised more than edgeAngle out
// of the level plane (iio-sensor-proxy's threshold); the device lies flat
// (face up or down) when the reaction lies within poseAngle of the
// screen's axis, and stays so until it leaves that cone.
constexpr double edgeAngle = 35.0; // degrees
constexpr double poseAngle = 40.0; // degrees
// Outside this range of total acceleration the device is being shaken or
// falls, and the reading says nothing about how it lies.
constexpr double restingMin = 0.5; // g
constexpr double restingMax = 1.5; // g

// The side that faces up from the acceleration in milli-g and the side
// reported before.
KvOrientation::Orientation orientation(const Vector &accel, KvOrientation::Orientation previous);

// Tilt in whole degrees: x the rotation about the x axis (0 face up, 90
// standing upright, +-180 face down), y the rotation about the y axis
// (-90 to 90, positive with the right edge raised).
int pitch(const Vector &accel);
int roll(const Vector &accel);

// Compass heading of the top edge in whole degrees clockwise from magnetic
// north (0 to 359), tilt compensated; -1 when the two vectors do not give a
// direction (one of them zero, or the field straight along gravity).
int heading(const Vector &accel, const Vector &field);

} // namespace Vorna::Backend::Motion

#endif
