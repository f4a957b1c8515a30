// A minimal wheel-control library for the loader's tests: it reports FAKE_COUNT wheels, so a test
// can tell which copy was loaded. FAKE_WITHOUT_SET_MOTOR_POWER leaves out one entry point.
#include "devizuvez.h"

extern "C" {

int QVRGetZWCount(void)
{
    return FAKE_COUNT;
}
int QVRGetZWProperties(int, WheelInfo*)
{
    return 1;
}
int QVROpenZW(int)
{
    return 0;
}
int QVRCloseZW(int)
{
    return 0;
}
int QVRResetZW(int)
{
    return 0;
}
int QVRZWSelfTest(int)
{
    return 0;
}
int QVRSaveSystemConfig(int)
{
    return 0;
}
int QVRBacktoBootload(int)
{
    return 0;
}
int QVRGetZWState(int id, int* state)
{
    *state = id + FAKE_COUNT;
    return 0;
}
int QVRGetCurrentPosition(int, int*)
{
    return 1;
}
int QVRGotoPosition(int, int)
{
    return 0;
}
int QVRGetOneWay(int, int*)
{
    return 1;
}
int QVRSetOneWay(int, int)
{
    return 0;
}
int QVRGetZWFirmwareVer(int, char*, int)
{
    return 1;
}
int QVRGetSelfTestState(int, int*, int*)
{
    return 1;
}
int QVRGetSensorValues(int, unsigned char*, unsigned char*, int*, int*, int*)
{
    return 1;
}
int QVRGetErrorCode(int, int*)
{
    return 1;
}
int QVRGetMotorState(int, unsigned char*, unsigned char*)
{
    return 1;
}
int QVRGetMotorSpeed(int, unsigned short*, unsigned short*)
{
    return 1;
}
int QVRSetMotorSpeed(int, unsigned short, unsigned short)
{
    return 0;
}
int QVRGetMotorPower(int, unsigned short*, unsigned short*)
{
    return 1;
}
#ifndef FAKE_WITHOUT_SET_MOTOR_POWER
int QVRSetMotorPower(int, unsigned short, unsigned short)
{
    return 0;
}
#endif
const char* QVRGetZWErrorString(int)
{
    return "fake";
}

} // extern "C"
