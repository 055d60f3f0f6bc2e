// Maidenhead locators and great-circle distances ("QRB") between stations.
#pragma once

#include <string_view>

namespace vs32 {

// A position in degrees, east and north positive.
struct GeoPoint {
  double longitude = 0;  // degrees, -180 … 180 for valid locators
  double latitude = 0;   // degrees, -90 … 90 for valid locators
};

// Centre of the locator's subsquare (six characters, case does not matter).
// A four-character locator gives the centre of its square. Characters are not
// validated: any other text yields some position, never a failure.
GeoPoint LocatorToLatLon(std::string_view locator);

// Great-circle distance in km between two points (degrees) on a sphere of radius
// 6371 km: 0 … 20015.09 (half the circumference), never NaN for finite input.
double DistanceKm(double longitude1, double latitude1, double longitude2, double latitude2);

}  // namespace vs32
