#include "devizuvezwritefwobject.h"
DevizuvEZWriteFWObject::~DevizuvEZWriteFWObject() {}
bool DevizuvEZWriteFWObject::Close() { return true; }
