// C interface of the DevizuvEZ filter-wheel control library.
// A wheel is addressed by the id the library reports. Unless noted, a call returns 0 on success
// and an error code otherwise; QVRGetZWErrorString turns a code into text.
// Out arguments are written only on success; callers preset them.
//
// The program is not linked with the library: devizuvezloader.cpp defines these functions and
// forwards each call to the library it loads at run time. A library build (DEVIZUVEZ_BUILD) exports
// them; in the program they stay private to the executable, so the library's own symbols and ours
// never bind to each other.
#ifndef DEVIZUVEZ_H
#define DEVIZUVEZ_H

#include <stddef.h>

#if defined(DEVIZUVEZ_BUILD)
#if defined(_WIN32)
#define DEVIZUVEZ_API __declspec(dllexport)
#else
#define DEVIZUVEZ_API __attribute__((visibility("default")))
#endif
#elif defined(_WIN32)
#define DEVIZUVEZ_API
#else
#define DEVIZUVEZ_API __attribute__((visibility("hidden")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct WheelInfo
{
    char Name[64]; // NUL-terminated
    int ID;
    int SlotNum; // position count
    char SN[64]; // NUL-terminated serial number
} WheelInfo;

// Wheel state (QVRGetZWState)
enum
{
    ZW_STATE_CLOSED = 0,
    ZW_STATE_IDLE = 1,
    ZW_STATE_MOVING = 2
};
// Self-test state (QVRGetSelfTestState): 17..31 running, 16 failed, 1 passed
enum
{
    ZW_SELFTEST_PASSED = 1,
    ZW_SELFTEST_FAILED = 16,
    ZW_SELFTEST_RUNNING_FIRST = 17,
    ZW_SELFTEST_RUNNING_LAST = 31
};
// Wheel error code (QVRGetErrorCode)
enum
{
    ZW_ERR_NONE = 0,
    ZW_ERR_CLOSED,
    ZW_ERR_MOTTEST,
    ZW_ERR_MOTOR,
    ZW_ERR_SENSOR,
    ZW_ERR_SAVE,
    ZW_ERR_SWITCH
};
// Motor state (QVRGetMotorState)
enum
{
    ZW_MOTOR_IDLE = 0,
    ZW_MOTOR_SPEEDUP,
    ZW_MOTOR_SPEEDDOWN,
    ZW_MOTOR_RUNNING,
    ZW_MOTOR_STOP
};

DEVIZUVEZ_API int QVRGetZWCount(void);
DEVIZUVEZ_API int QVRGetZWProperties(int index, WheelInfo* info);
DEVIZUVEZ_API int QVROpenZW(int id);
DEVIZUVEZ_API int QVRCloseZW(int id);
DEVIZUVEZ_API int QVRResetZW(int id);
DEVIZUVEZ_API int QVRZWSelfTest(int id);
DEVIZUVEZ_API int QVRSaveSystemConfig(int id);
DEVIZUVEZ_API int QVRBacktoBootload(int id);
DEVIZUVEZ_API int QVRGetZWState(int id, int* state);
DEVIZUVEZ_API int QVRGetCurrentPosition(int id, int* position);
DEVIZUVEZ_API int QVRGotoPosition(int id, int position);
DEVIZUVEZ_API int QVRGetOneWay(int id, int* oneWay);
DEVIZUVEZ_API int QVRSetOneWay(int id, int oneWay);
DEVIZUVEZ_API int QVRGetZWFirmwareVer(int id, char* buffer, int size);
DEVIZUVEZ_API int QVRGetSelfTestState(int id, int* state, int* errorCode);
DEVIZUVEZ_API int QVRGetSensorValues(int id, unsigned char* sensor, unsigned char* moving, int* value,
                                     int* reserved1, int* reserved2);
DEVIZUVEZ_API int QVRGetErrorCode(int id, int* errorCode);
DEVIZUVEZ_API int QVRGetMotorState(int id, unsigned char* motorState, unsigned char* commState);
DEVIZUVEZ_API int QVRGetMotorSpeed(int id, unsigned short* startSpeed, unsigned short* runningSpeed);
DEVIZUVEZ_API int QVRSetMotorSpeed(int id, unsigned short startSpeed, unsigned short runningSpeed);
DEVIZUVEZ_API int QVRGetMotorPower(int id, unsigned short* runningPower, unsigned short* stopPower);
DEVIZUVEZ_API int QVRSetMotorPower(int id, unsigned short runningPower, unsigned short stopPower);
// Library-owned text; never null for codes the library returns.
DEVIZUVEZ_API const char* QVRGetZWErrorString(int errorCode);

#ifdef __cplusplus
}

static_assert(sizeof(WheelInfo) == 136, "WheelInfo is 136 bytes");
static_assert(offsetof(WheelInfo, Name) == 0, "WheelInfo name at 0");
static_assert(offsetof(WheelInfo, ID) == 64, "WheelInfo id at 64");
static_assert(offsetof(WheelInfo, SlotNum) == 68, "WheelInfo position count at 68");
static_assert(offsetof(WheelInfo, SN) == 72, "WheelInfo serial number at 72");
#endif

#endif
