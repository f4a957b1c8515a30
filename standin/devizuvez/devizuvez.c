/* Stand-in DevizuvEZ wheel-control library. This build reaches no wheels yet:
 * it reports none and refuses every call for an id it does not know. */
#include "devizuvez.h"

enum { ZW_ERROR_INVALID_ID = 2 };

int QVRGetZWCount(void) { return 0; }
int QVRGetZWProperties(int index, WheelInfo* info) { (void)index; (void)info; return ZW_ERROR_INVALID_ID; }
int QVROpenZW(int id) { (void)id; return ZW_ERROR_INVALID_ID; }
int QVRCloseZW(int id) { (void)id; return ZW_ERROR_INVALID_ID; }
int QVRResetZW(int id) { (void)id; return ZW_ERROR_INVALID_ID; }
int QVRZWSelfTest(int id) { (void)id; return ZW_ERROR_INVALID_ID; }
int QVRSaveSystemConfig(int id) { (void)id; return ZW_ERROR_INVALID_ID; }
int QVRBacktoBootload(int id) { (void)id; return ZW_ERROR_INVALID_ID; }
int QVRGetZWState(int id, int* state) { (void)id; (void)state; return ZW_ERROR_INVALID_ID; }
int QVRGetCurrentPosition(int id, int* position) { (void)id; (void)position; return ZW_ERROR_INVALID_ID; }
int QVRGotoPosition(int id, int position) { (void)id; (void)position; return ZW_ERROR_INVALID_ID; }
int QVRGetOneWay(int id, int* oneWay) { (void)id; (void)oneWay; return ZW_ERROR_INVALID_ID; }
int QVRSetOneWay(int id, int oneWay) { (void)id; (void)oneWay; return ZW_ERROR_INVALID_ID; }
int QVRGetZWFirmwareVer(int id, char* buffer, int size) { (void)id; (void)buffer; (void)size; return ZW_ERROR_INVALID_ID; }
int QVRGetSelfTestState(int id, int* state, int* errorCode) { (void)id; (void)state; (void)errorCode; return ZW_ERROR_INVALID_ID; }
int QVRGetSensorValues(int id, unsigned char* sensor, unsigned char* moving, int* value, int* reserved1, int* reserved2)
{
    (void)id; (void)sensor; (void)moving; (void)value; (void)reserved1; (void)reserved2;
    return ZW_ERROR_INVALID_ID;
}
int QVRGetErrorCode(int id, int* errorCode) { (void)id; (void)errorCode; return ZW_ERROR_INVALID_ID; }
int QVRGetMotorState(int id, unsigned char* motorState, unsigned char* commState) { (void)id; (void)motorState; (void)commState; return ZW_ERROR_INVALID_ID; }
int QVRGetMotorSpeed(int id, unsigned short* startSpeed, unsigned short* runningSpeed) { (void)id; (void)startSpeed; (void)runningSpeed; return ZW_ERROR_INVALID_ID; }
int QVRSetMotorSpeed(int id, unsigned short startSpeed, unsigned short runningSpeed) { (void)id; (void)startSpeed; (void)runningSpeed; return ZW_ERROR_INVALID_ID; }
int QVRGetMotorPower(int id, unsigned short* runningPower, unsigned short* stopPower) { (void)id; (void)runningPower; (void)stopPower; return ZW_ERROR_INVALID_ID; }
int QVRSetMotorPower(int id, unsigned short runningPower, unsigned short stopPower) { (void)id; (void)runningPower; (void)stopPower; return ZW_ERROR_INVALID_ID; }

const char* QVRGetZWErrorString(int errorCode)
{
    switch (errorCode) {
    case 0: return "Success";
    case ZW_ERROR_INVALID_ID: return "Invalid wheel id";
    default: return "Unknown error";
    }
}
