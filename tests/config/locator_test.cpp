#include "config/locator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

namespace vs32 {
namespace {

constexpr double kHalfCircumferenceKm = 20015.086796020572;  // pi * 6371

// An independent formula (haversine) to cross-check the great-circle distance.
double HaversineKm(double lon1, double lat1, double lon2, double lat2) {
  const double rad = std::acos(-1.0) / 180;
  const double dLat = (lat2 - lat1) * rad;
  const double dLon = (lon2 - lon1) * rad;
  const double a =
      std::sin(dLat / 2) * std::sin(dLat / 2) +
      std::cos(lat1 * rad) * std::cos(lat2 * rad) * std::sin(dLon / 2) * std::sin(dLon / 2);
  return 2 * 6371 * std::atan2(std::sqrt(a), std::sqrt(1 - a));
}

TEST(LocatorToLatLon, SubsquareCentres) {
  const GeoPoint jo65ho = LocatorToLatLon("JO65HO");
  EXPECT_DOUBLE_EQ(jo65ho.longitude, 12.625);
  EXPECT_NEAR(jo65ho.latitude, 55.604166666666667, 1e-12);

  const GeoPoint lower = LocatorToLatLon("jo65ho");
  EXPECT_EQ(lower.longitude, jo65ho.longitude);
  EXPECT_EQ(lower.latitude, jo65ho.latitude);

  const GeoPoint corner = LocatorToLatLon("AA00AA");
  EXPECT_NEAR(corner.longitude, -179.958333333333333, 1e-12);
  EXPECT_NEAR(corner.latitude, -89.979166666666667, 1e-12);

  // Characters after the sixth do not move the point.
  const GeoPoint longer = LocatorToLatLon("JO65HO42");
  EXPECT_EQ(longer.longitude, jo65ho.longitude);
  EXPECT_EQ(longer.latitude, jo65ho.latitude);
}

TEST(LocatorToLatLon, FourCharactersMeanTheCentreOfTheSquare) {
  // Square JO65 spans 12…14 E and 55…56 N.
  const GeoPoint square = LocatorToLatLon("JO65");
  EXPECT_DOUBLE_EQ(square.longitude, 13.0);
  EXPECT_DOUBLE_EQ(square.latitude, 55.5);
  const GeoPoint lower = LocatorToLatLon("jo65");
  EXPECT_EQ(lower.longitude, square.longitude);
  EXPECT_EQ(lower.latitude, square.latitude);
}

TEST(LocatorToLatLon, OtherTextsGiveSomeFinitePosition) {
  for (const std::string& text : {std::string(""), std::string("J"), std::string("JO6"),
                                  std::string("JO65H"), std::string("\xff\x80zz!!"),
                                  std::string("JO\0"
                                              "5HO",
                                              6)}) {
    const GeoPoint point = LocatorToLatLon(text);
    EXPECT_TRUE(std::isfinite(point.longitude)) << text;
    EXPECT_TRUE(std::isfinite(point.latitude)) << text;
  }
  // Five characters are not a square: the arithmetic is used as it stands.
  const GeoPoint five = LocatorToLatLon("JO65H");
  EXPECT_DOUBLE_EQ(five.longitude, 2 * (6 + (7 + 0.5) / 24));
  EXPECT_DOUBLE_EQ(five.latitude, 55 + (0 - 65 + 0.5) / 24);
}

TEST(DistanceKm, EquatorExamples) {
  EXPECT_NEAR(DistanceKm(0, 0, 90, 0), 10007.54, 0.005);
  // The arctangent is negative here and pi is added.
  EXPECT_NEAR(DistanceKm(0, 0, 135, 0), 15011.32, 0.005);
  EXPECT_NEAR(DistanceKm(-20, 0, 115, 0), 15011.32, 0.005);
}

TEST(DistanceKm, IdenticalPointsGiveZeroNeverNaN) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> lon(-180, 180), lat(-90, 90);
  for (int i = 0; i < 20000; ++i) {
    const double x = lon(random), y = lat(random);
    const double d = DistanceKm(x, y, x, y);
    ASSERT_FALSE(std::isnan(d)) << x << " " << y;
    ASSERT_LT(d, 0.001) << x << " " << y;
  }
  const GeoPoint p = LocatorToLatLon("JO65HO");
  EXPECT_EQ(DistanceKm(p.longitude, p.latitude, p.longitude, p.latitude), 0.0);
}

TEST(DistanceKm, AntipodesGiveHalfTheCircumference) {
  EXPECT_NEAR(DistanceKm(0, 0, 180, 0), kHalfCircumferenceKm, 1e-6);
  EXPECT_NEAR(DistanceKm(0, 90, 0, -90), kHalfCircumferenceKm, 1e-6);
  std::mt19937 random(11);
  std::uniform_real_distribution<double> lon(-180, 0), lat(-90, 90);
  for (int i = 0; i < 20000; ++i) {
    const double x = lon(random), y = lat(random);
    const double d = DistanceKm(x, y, x + 180, -y);
    ASSERT_FALSE(std::isnan(d));
    ASSERT_GT(d, kHalfCircumferenceKm - 0.001) << x << " " << y;
    ASSERT_LE(d, kHalfCircumferenceKm + 1e-6);
  }
}

TEST(DistanceKm, AgreesWithHaversineAndIsSymmetric) {
  std::mt19937 random(3);
  std::uniform_real_distribution<double> lon(-180, 180), lat(-90, 90);
  for (int i = 0; i < 5000; ++i) {
    const double x1 = lon(random), y1 = lat(random), x2 = lon(random), y2 = lat(random);
    const double d = DistanceKm(x1, y1, x2, y2);
    ASSERT_NEAR(d, HaversineKm(x1, y1, x2, y2), 1e-3);
    ASSERT_NEAR(d, DistanceKm(x2, y2, x1, y1), 1e-9);
  }
  // A longitude/latitude mix-up would show here: JO65HO to JO65HN is one
  // subsquare (2.5 arc minutes) of latitude, about 4.6 km.
  const GeoPoint a = LocatorToLatLon("JO65HO"), b = LocatorToLatLon("JO65HN");
  EXPECT_NEAR(DistanceKm(a.longitude, a.latitude, b.longitude, b.latitude), 4.633, 0.001);
}

}  // namespace
}  // namespace vs32
