#pragma once
// The findings' codes, "check.what": stable across releases, so that scripts
// match them and not the texts, which may change. A code changes or goes only
// with a new report schema. README's code table gives each one's meaning.
// Portable.

namespace code {

inline constexpr char kFilesPathTooLong[] = "files.pathTooLong";
inline constexpr char kFilesPresent[] = "files.present";
inline constexpr char kFilesMissing[] = "files.missing";

inline constexpr char kProtectionSound[] = "protection.sound";
inline constexpr char kProtectionOthersMayChange[] = "protection.othersMayChange";
inline constexpr char kProtectionUnreadable[] = "protection.unreadable";
inline constexpr char kProtectionNotElevated[] = "protection.notElevated";

inline constexpr char kServiceSound[] = "service.sound";
inline constexpr char kServiceNotRegistered[] = "service.notRegistered";
inline constexpr char kServiceNotQueried[] = "service.notQueried";
inline constexpr char kServiceNotQuoted[] = "service.notQuoted";
inline constexpr char kServiceOtherFolder[] = "service.otherFolder";
inline constexpr char kServiceNotAutoStart[] = "service.notAutoStart";
inline constexpr char kServiceNotRunning[] = "service.notRunning";

inline constexpr char kBoardListed[] = "board.listed";
inline constexpr char kBoardNotListed[] = "board.notListed";
inline constexpr char kBoardWmiFailed[] = "board.wmiFailed";
inline constexpr char kBoardNoProductText[] = "board.noProductText";
inline constexpr char kBoardNoBaseboard[] = "board.noBaseboard";
inline constexpr char kBoardMarkHidesMainBoard[] = "board.markHidesMainBoard";
inline constexpr char kBoardMarkBeforeSection[] = "board.markBeforeSection";
inline constexpr char kBoardInput[] = "board.input";

inline constexpr char kDriverOpen[] = "driver.open";
inline constexpr char kDriverNotLoaded[] = "driver.notLoaded";
inline constexpr char kDriverDisabled[] = "driver.disabled";
inline constexpr char kDriverDeviceRefused[] = "driver.deviceRefused";
inline constexpr char kDriverNotElevated[] = "driver.notElevated";
inline constexpr char kDriverFileMissing[] = "driver.fileMissing";
inline constexpr char kDriverRegistrationFailed[] = "driver.registrationFailed";
inline constexpr char kDriverStartFailed[] = "driver.startFailed";
inline constexpr char kDriverStartBlocked[] = "driver.startBlocked";
inline constexpr char kDriverLoadUndone[] = "driver.loadUndone";
inline constexpr char kDriverLoadNotUndone[] = "driver.loadNotUndone";

inline constexpr char kButtonReleased[] = "button.released";
inline constexpr char kButtonPressedNow[] = "button.pressedNow";
inline constexpr char kButtonReadFails[] = "button.readFails";
inline constexpr char kButtonNotReadable[] = "button.notReadable";
inline constexpr char kButtonWatchNotReadable[] = "button.watchNotReadable";
inline constexpr char kButtonWatchReadsFailed[] = "button.watchReadsFailed";

inline constexpr char kUserAtConsole[] = "user.atConsole";
inline constexpr char kUserNotAtConsole[] = "user.notAtConsole";
inline constexpr char kUserNobodyLoggedOn[] = "user.nobodyLoggedOn";

} // namespace code

// Every code above, for the test that holds README's table to them.
inline constexpr const char *kFindingCodes[] = {
    code::kFilesPathTooLong,
    code::kFilesPresent,
    code::kFilesMissing,
    code::kProtectionSound,
    code::kProtectionOthersMayChange,
    code::kProtectionUnreadable,
    code::kProtectionNotElevated,
    code::kServiceSound,
    code::kServiceNotRegistered,
    code::kServiceNotQueried,
    code::kServiceNotQuoted,
    code::kServiceOtherFolder,
    code::kServiceNotAutoStart,
    code::kServiceNotRunning,
    code::kBoardListed,
    code::kBoardNotListed,
    code::kBoardWmiFailed,
    code::kBoardNoProductText,
    code::kBoardNoBaseboard,
    code::kBoardMarkHidesMainBoard,
    code::kBoardMarkBeforeSection,
    code::kBoardInput,
    code::kDriverOpen,
    code::kDriverNotLoaded,
    code::kDriverDisabled,
    code::kDriverDeviceRefused,
    code::kDriverNotElevated,
    code::kDriverFileMissing,
    code::kDriverRegistrationFailed,
    code::kDriverStartFailed,
    code::kDriverStartBlocked,
    code::kDriverLoadUndone,
    code::kDriverLoadNotUndone,
    code::kButtonReleased,
    code::kButtonPressedNow,
    code::kButtonReadFails,
    code::kButtonNotReadable,
    code::kButtonWatchNotReadable,
    code::kButtonWatchReadsFailed,
    code::kUserAtConsole,
    code::kUserNotAtConsole,
    code::kUserNobodyLoggedOn,
};
