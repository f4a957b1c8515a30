/* Report protocol between the DevizuvEZ stand-in library and a filter wheel on USB HID, and the
 * library's status codes.
 *
 * A wheel is a HID device of vendor 0xA0A0 with a product id other than 0xF000 (the bootloader's).
 * It has no numbered reports: one output report and one input report of ZW_REPORT_SIZE bytes each.
 *
 * Output report (host -> wheel), after the report number 0 that hid_write() expects first:
 *   [0] command code   [1] sequence number   [2] argument length n   [3 .. 3+n) arguments
 * Input report (wheel -> host), one per command:
 *   [0] command code   [1] sequence number   [2] device status   [3] data length n   [4 .. 4+n) data
 * The rest of a report is zero. Numbers are little-endian; texts are NUL-terminated.
 * The host sends one command at a time and takes the first input report whose code and sequence
 * number match, within ZW_REPLY_TIMEOUT_MS; reports left over from an earlier command are skipped.
 *
 * Commands (arguments -> reply data):
 *   0x01 OPEN             -> u8 protocol version; refused when the wheel cannot be used
 *   0x02 GET_NAME         -> text (at most 63 characters)
 *   0x03 GET_SERIAL       -> text (24 hex digits)
 *   0x04 GET_SLOTS        -> u8 slot count
 *   0x05 GET_FW_VERSION   -> text such as "3.1.2"
 *   0x10 GET_STATE        -> u8 wheel state (1 idle, 2 moving)
 *   0x11 GET_POSITION     -> s8 slot index from 0
 *   0x12 GOTO u8 slot     -> (busy while moving or self-testing; bad argument past the last slot)
 *   0x13 GET_ONEWAY       -> u8 flag
 *   0x14 SET_ONEWAY u8    -> (bad argument unless 0 or 1)
 *   0x15 RESET            -> (the wheel finds slot 0 again, moving meanwhile)
 *   0x16 SELFTEST         -> (starts the self test)
 *   0x17 GET_SELFTEST     -> u8 state (0 never run, 17..31 running, 16 failed, 1 passed), u8 error code
 *   0x18 GET_SENSORS      -> u8 sensor, u8 moving flag, s32 value
 *   0x19 GET_ERROR        -> u8 wheel error code (0..6)
 *   0x1A GET_MOTOR_STATE  -> u8 motor state (0..4), u8 communication state
 *   0x1B GET_MOTOR_SPEED  -> u16 start speed, u16 running speed
 *   0x1C SET_MOTOR_SPEED u16 start, u16 running
 *   0x1D GET_MOTOR_POWER  -> u16 running power, u16 stop power
 *   0x1E SET_MOTOR_POWER u16 running, u16 stop
 *   0x1F SAVE_CONFIG      -> (stores speed and power)
 *   0x20 BOOTLOADER       -> (answered, then the wheel leaves the bus and restarts in its bootloader)
 */
#ifndef ZWPROTOCOL_H
#define ZWPROTOCOL_H

/* udev property that the emulator sets to "1" on each emulated wheel's hidraw device; the stand-in
 * library uses no other wheel. */
#define ZW_EMULATED_PROPERTY "FLASHWICK_EMULATED_WHEEL"

enum
{
    ZW_VENDOR_ID = 0xA0A0,
    ZW_BOOTLOADER_PRODUCT_ID = 0xF000,
    ZW_REPORT_SIZE = 80,
    ZW_REPLY_HEADER = 4,
    ZW_COMMAND_HEADER = 3,
    ZW_REPLY_TIMEOUT_MS = 500,
    ZW_PROTOCOL_VERSION = 1
};

enum
{
    ZW_CMD_OPEN = 0x01,
    ZW_CMD_GET_NAME = 0x02,
    ZW_CMD_GET_SERIAL = 0x03,
    ZW_CMD_GET_SLOTS = 0x04,
    ZW_CMD_GET_FW_VERSION = 0x05,
    ZW_CMD_GET_STATE = 0x10,
    ZW_CMD_GET_POSITION = 0x11,
    ZW_CMD_GOTO = 0x12,
    ZW_CMD_GET_ONEWAY = 0x13,
    ZW_CMD_SET_ONEWAY = 0x14,
    ZW_CMD_RESET = 0x15,
    ZW_CMD_SELFTEST = 0x16,
    ZW_CMD_GET_SELFTEST = 0x17,
    ZW_CMD_GET_SENSORS = 0x18,
    ZW_CMD_GET_ERROR = 0x19,
    ZW_CMD_GET_MOTOR_STATE = 0x1A,
    ZW_CMD_GET_MOTOR_SPEED = 0x1B,
    ZW_CMD_SET_MOTOR_SPEED = 0x1C,
    ZW_CMD_GET_MOTOR_POWER = 0x1D,
    ZW_CMD_SET_MOTOR_POWER = 0x1E,
    ZW_CMD_SAVE_CONFIG = 0x1F,
    ZW_CMD_BOOTLOADER = 0x20
};

/* Device status, byte 2 of an input report. */
enum
{
    ZW_DEV_OK = 0,
    ZW_DEV_UNKNOWN_COMMAND = 1,
    ZW_DEV_BAD_ARGUMENT = 2,
    ZW_DEV_BUSY = 3,
    ZW_DEV_FAILED = 4
};

/* Status codes of the library calls (QVRGetZWErrorString has a text for each). */
enum
{
    ZW_SUCCESS = 0,
    ZW_ERROR_INVALID_INDEX = 1,    /* no wheel at this index in the last enumeration */
    ZW_ERROR_INVALID_ID = 2,       /* no wheel with this id */
    ZW_ERROR_NOT_OPEN = 3,         /* the wheel is known but not open */
    ZW_ERROR_INVALID_ARGUMENT = 4, /* null pointer, bad size or flag */
    ZW_ERROR_OPEN_FAILED = 5,      /* the HID device could not be opened */
    ZW_ERROR_TIMEOUT = 6,          /* no reply within ZW_REPLY_TIMEOUT_MS */
    ZW_ERROR_COMMUNICATION = 7,    /* write or read failed (device gone); the handle is closed */
    ZW_ERROR_BUSY = 8,             /* the wheel is moving or self-testing */
    ZW_ERROR_REFUSED = 9,          /* the wheel reported a failure */
    ZW_ERROR_UNSUPPORTED = 10,     /* the wheel does not know the command */
    ZW_ERROR_BAD_REPLY = 11,       /* reply too short or malformed */
    ZW_ERROR_BUFFER_TOO_SMALL = 12,
    ZW_ERROR_OUT_OF_RANGE = 13, /* the wheel refused an argument (slot past the last one, ...) */
    ZW_ERROR_LAST = ZW_ERROR_OUT_OF_RANGE
};

#endif
