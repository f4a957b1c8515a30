#include "qvrusb.h"
class UsbDriverDevice {};
QVRUsb::QVRUsb() {}
QVRUsb::~QVRUsb() {}
int QVRUsb::enumerateCameras() { cameraList().clear(); return 0; }
CameraList& QVRUsb::cameraList() { static CameraList list; return list; }
void QVRUsb::close() {}
