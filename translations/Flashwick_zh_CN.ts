<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>AboutDialog</name>
    <message>
        <source>About...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>CameraFlashwick_V1.0.0</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>website:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>support:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>facebook:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copyright © Quenvor. All rights reserved.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>CameraFlashwick</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quenvor</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>firmware download page...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Camera</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connected Camera:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>switch camera</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>scan and refresh connected cameras</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>reboot the camera firmware</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reset FX</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Current Camera Info</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>FW Version: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>V0.0</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>FPGA Version: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>V0.0.0.0</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connection:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>USB3.0</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>SN:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>00000000000000000000</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>copy SN of camera to clipboard</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>select a firmware file(*.img)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Select FW File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>write firmware to camera</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Write FW</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>path to the firmware file</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>recommend that don&apos;t contain spaces or special characters in the path</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>select a FPGA file(*.bit)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Select FPGA File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>write FPGA to camera</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Write FPGA</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>path to the FPGA file</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Writing Progress:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>writing progress</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Filter Wheel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connected ZW:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>switch wheel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>scan and refresh connected wheels</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Goto:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>go to position</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>set the wheel to unidirectional</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>One-Way</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>reset the wheel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reset</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Current ZW Info</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>FW Version:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>V1.0</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Position Count:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>0</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>000000000000000000000000</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>copy SN of wheel to clipboard</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>select a firmware file(*.hex)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>write firmware to filter wheel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Motor</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>What&apos;s this?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Read Motor Info</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Set Motor Power</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Default</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>High</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Max</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>firmwares download page...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Light</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Dark</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Need To Know</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>About...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Check Update</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Theme</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Writing in Progress</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A firmware write is still running. Do not unplug the device.
Close Flashwick as soon as the write has finished?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Flashwick will close when the write has finished.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Get Connnected Camera...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Detect %1 Camera(s)...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ERROR: Open Camera Failed!!!, Please Refresh Camera!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Close QVR Camera(%1):!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ERROR: Open %1 failed!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open QVR Camera(%1), Path: %2!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Waiting...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reset FX3 OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reset FX3 failed!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Camera was not opened</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>SN of camera be copied to clipboard!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Select Firmware File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>FW (*.img)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>FPGA (*.bit)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Risk Warning</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please don&apos;t unplug the camera from the host!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>During writing, make sure the connection between camera and host is stable.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Don&apos;t show again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Writing FW...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Writing FPGA...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ERROR: No Cameras!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ERROR: Please Select FW File(*.img)!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ERROR: the FW file(*.img) is not exist!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ERROR: Please Select FPGA File(*.bit)!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ERROR: the FPGA file(*.bit) is not exist!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update FPGA</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Strongly recommended NOT to upgrade the FPGA,
unless you understand the purpose of doing so.
Continue?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Writing FW Successful!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Writing FPGA Successful!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ERROR: Writing FW Failed!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ERROR: Writing FPGA Failed!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please unplug the camera and re-connnect to host!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Write FW Successful!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Write FPGA Successful!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Write FW Failed!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Write FPGA Failed!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Write Successfully</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please unplug the camera,
and re-plug to host!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Write Failed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please re-plug the camera,
and try again!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Get Connnected Wheel...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Detect %1 Wheel(s)...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ERROR: Open Filter Wheel Failed!!!, Please replug it! Code: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ERROR: Read Firmware Version Failed, Code: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed to Self Test, Code: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Start to Self Testing!!!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Self Testing.......</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Self Test Finished!!!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Self Test Error!!!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Self Test Error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Self Test Error!
Please test it again!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Self Test OK!!!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Self Test OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please replugin the wheel!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Going to Position: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Goto Position Failed, Code: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Set One-Way OK!!!, Value: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed to Set One-Way , Code: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reset ZW OK!!!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed to Reset ZW, Code: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>SN of wheel be copied to clipboard!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ERROR: no wheels!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Wheel has an error, can not set the power of motor!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please try to eliminate this error and make the wheel work properly: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1. Try loosening the center screws of the filter plate.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>2. If the weather is cold, bring the wheel to a warm environment.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>If the problem is not solved, please contact our support: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Wheel Error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Wheel has an error, please check the suggestions in the log.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Setting the motor power...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Set motor power failed!!!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Set the motor running power OK: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Set motor running speed OK.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Set motor running speed failed!!!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Wheel is saving changes...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save successfully.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Set motor power successfully.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save failed!!!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Why set the motor power:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>  Due to the different usage environments (such as very cold weather), the rotating shaft of the filter wheel may increase the friction, which may cause it to fail to move or the slot positions to be misaligned.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>  Increasing the power of the filter wheel motor can solve this problem, however, this requires the USB port of host to have sufficient power supply capacity. If the USB port does not provide sufficient power, increasing the motor power may not have any effect.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>If there is nothing wrong with your filter wheel, it is recommended not to change the motor power.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>FW (*.hex)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>wheel firmware version NOT compatibilty!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Version Compatibility</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The firmware version is incompatible!
Please select the v%1.x version firmware</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>wheel firmware version compatibilty!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please don&apos;t unplug the filter wheel from the host!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>During writing, make sure the connection between filter wheel and host is stable.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ERROR: Scan ZW bootloader failed!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ERROR: Open ZW bootloader failed!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ERROR: Set data to ZW bootloader failed!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Scan ZW bootloader OK!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ERROR: please select firmware file(*.hex)!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ERROR: the firmware file(*.hex) is not exist!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reading and parsing the firmware file, please wait....</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Start to back to bootloader</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed to back to boolloader!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed to back to boolloader, Code: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Back to boolloader OK!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Start to scan bootloader</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please wait, bootloader is being scanned...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The Firmware File Error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Wrong firmware file(*.hex), can not write to wheel.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Try Again?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The system may be recognizing the bootloader of the wheel.
Do you want to try again?
(If it still doesn&apos;t work after several attempts, please re-plug the wheel.)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Re-plug Wheel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Can not find the bootloader,
Please re-plug the wheel to host!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Start to Write FW to wheel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Start to Write FW...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please re-plug the wheel to host!
(If moving, wait for it to stop moving)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please re-plug the wheel,
and try again!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Parse firmware file OK!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Parse firmware file error: PARSE_OPEN_ERROR!!!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Parse firmware file error: PARSE_ENDLINE_ERROR!!! Code: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Parse firmware file error: PARSE_FORMAT_ERROR!!! Code: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Parse firmware file error: PARSE_DATA_LEN_ERROR!!! Code: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Parse firmware file error: PARSE_CHECKSUM_ERROR!!! Code: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Parse firmware file errorr: PARSE_FORMAT_ERROR!!! Code: 04</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>NeedToKnowDialog</name>
    <message>
        <source>Need To Know</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Don&apos;t Show Again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>If your device (camera, filter wheel, etc.) is working fine, you should not upgrade the firmware.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>When upgrading the firmware of the device, please keep the connection between the device and the host stable. During the upgrade process, if the connection with the host is disconnected, the device may become unusable.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please select the firmware that corresponds to your device, writing the wrong firmware to your device can cause it to work improperly.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>If you have any questions about upgrading firmware, please contact us: </source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
