#pragma once

// The least-squares slope of a run of points, for rates fitted to clock
// readings (a device's frames, a display's refreshes). Coordinates are taken
// from the first point's, so large clock values keep their precision.

namespace lagwell {

// `x` and `y` give a point's coordinates as numbers. False, and `slope`
// untouched, when there are fewer than two points or their x do not vary.
template <typename Points, typename X, typename Y>
bool leastSquaresSlope(const Points& points, X x, Y y, double* slope)
{
    if (points.size() < 2)
        return false;
    const auto& first = points.front();
    double meanX = 0;
    double meanY = 0;
    for (const auto& point : points) {
        meanX += double(x(point) - x(first));
        meanY += double(y(point) - y(first));
    }
    meanX /= double(points.size());
    meanY /= double(points.size());
    double sxx = 0;
    double sxy = 0;
    for (const auto& point : points) {
        const double dx = double(x(point) - x(first)) - meanX;
        sxx += dx * dx;
        sxy += dx * (double(y(point) - y(first)) - meanY);
    }
    if (sxx <= 0)
        return false;
    *slope = sxy / sxx;
    return true;
}

}  // namespace lagwell
