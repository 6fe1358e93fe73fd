#pragma once
// The upgrade codes of the packages that install the service: the release's
// and the test package's, as packaging/make-release gives them. The installer
// knows an installed package by them. Portable.

inline constexpr const char *kUpgradeCodes[] = {
    "{A6EC6526-9C58-4087-A290-CA5CD1C78EFB}", // the release
    "{8AADBBC1-1627-42D0-B832-A215BDDA738B}", // the test package
};
