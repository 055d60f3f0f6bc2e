#include "config/locator.h"

#include <algorithm>
#include <cmath>

#include "config/ascii_case.h"

namespace vs32 {

namespace {

constexpr double kEarthRadiusKm = 6371;
constexpr double kOneOver180 = 0.005555555555555556;

int UpperCode(char c) {
  return static_cast<unsigned char>(AsciiUpper(c));
}

}  // namespace

GeoPoint LocatorToLatLon(std::string_view locator) {
  // Shorter texts count as padded with zero characters, as the arithmetic has
  // always treated them; only the four-character case is given a sensible meaning.
  int code[6] = {};
  size_t length = 0;
  while (length < locator.size() && locator[length] != '\0') ++length;
  for (size_t i = 0; i < 6 && i < length; ++i) code[i] = UpperCode(locator[i]);

  // A square without a subsquare means the middle of the square: subsquare
  // index 11.5 puts (index + 0.5) / 24 at exactly one half.
  const bool squareOnly = length == 4;
  const double subLon = squareOnly ? 11.5 : code[4] - 65;
  const double subLat = squareOnly ? 11.5 : code[5] - 65;

  GeoPoint point;
  point.longitude = 2 * (10 * (code[0] - 65) - 90 + (code[2] - 48) + (subLon + 0.5) / 24);
  point.latitude = 10 * (code[1] - 65) - 90 + (code[3] - 48) + (subLat + 0.5) / 24;
  return point;
}

double DistanceKm(double longitude1, double latitude1, double longitude2, double latitude2) {
  const double pi = 4 * std::atan(1.0);
  const double lambda1 = longitude1 * pi * kOneOver180;
  const double phi1 = latitude1 * pi * kOneOver180;
  const double lambda2 = longitude2 * pi * kOneOver180;
  const double phi2 = latitude2 * pi * kOneOver180;

  double c = std::cos(lambda1 - lambda2) * std::cos(phi1) * std::cos(phi2) +
             std::sin(phi1) * std::sin(phi2);
  // Rounding can push the cosine just past ±1 for (nearly) identical or
  // antipodal points; outside that range the square root below is NaN. At -1
  // the arctangent of -0 would give 0 instead of the half circumference.
  c = std::clamp(c, -1.0, 1.0);
  double sigma;
  if (c <= -1.0) {
    sigma = pi;
  } else {
    sigma = std::atan(std::sqrt(1 - c * c) / c);
    if (sigma < 0) sigma += pi;
  }
  return sigma * kEarthRadiusKm;
}

}  // namespace vs32
