#pragma once
// Crystallographic calculators of the keyboard interface: conversion between
// a real-space unit cell and its reciprocal cell, and Bragg's law solved for
// d-spacing, 2-theta or wavelength. They touch no data array.

#include "core/types.hpp"

namespace kesta {

// A unit cell: lengths (Angstroms or inverse Angstroms) and angles (radians).
struct UnitCell {
  double a, b, c, alpha, beta, gamma;
};

// Real cell to reciprocal cell, and back. False (RECIPROCAL or REAL and
// VOLUME untouched) when the angles give no cell of positive volume.
bool KZT_UNIT2RECIPROCAL(const UnitCell& real, double& volume, UnitCell& reciprocal,
                         Status& status);
bool KZT_RECIP2UNIT(const UnitCell& reciprocal, double& volume_star, UnitCell& real,
                    Status& status);

// UNIT CELL PARAMETERS: asks the direction and one cell, prints the other.
void KZT_RECIPROCAL(Status& status);

// BRAGGS' EQUATION: the Bragg equation sub-menu.
void KZT_BRAGG(Status& status);

}  // namespace kesta
