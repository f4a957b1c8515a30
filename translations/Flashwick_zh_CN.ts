<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>AboutDialog</name>
    <message>
        <source>About...</source>
        <translation>关于</translation>
    </message>
    <message>
        <source>CameraFlashwick_V1.0.0</source>
        <translation>CameraFlashwick_V1.0.0</translation>
    </message>
    <message>
        <source>website:</source>
        <translation>官网：</translation>
    </message>
    <message>
        <source>support:</source>
        <translation>技术支持：</translation>
    </message>
    <message>
        <source>facebook:</source>
        <translation>交流：</translation>
    </message>
    <message>
        <source>Copyright © Quenvor. All rights reserved.</source>
        <translation>版权所有 © Quenvor，保留所有权利。</translation>
    </message>
</context>
<context>
    <name>CameraRecovery</name>
    <message>
        <source>Opening the FX3 boot loader at %1...</source>
        <translation>正在打开 %1 处的 FX3 引导程序…</translation>
    </message>
    <message>
        <source>Every chunk read back and compared; the RAM checksum %1 matches the image.</source>
        <translation>每一块都已读回并比较；内存校验和 %1 与映像一致。</translation>
    </message>
    <message>
        <source>Starting the firmware in RAM at %1...</source>
        <translation>正在从内存地址 %1 启动固件…</translation>
    </message>
    <message>
        <source>Waiting for the camera to come up (at most %1 s)...</source>
        <translation>正在等待相机出现（最多 %1 秒）…</translation>
    </message>
    <message>
        <source>The camera came up: %1 (%2).</source>
        <translation>相机已出现：%1（%2）。</translation>
    </message>
    <message>
        <source>The camera runs the image from RAM (firmware %1); writing it into the flash.</source>
        <translation>相机正在从内存运行该映像（固件 %1）；现在把它写入闪存。</translation>
    </message>
    <message>
        <source>ERROR: Recovery stopped before the start: the camera is still in its boot loader.</source>
        <translation>错误：恢复在启动前已停止：相机仍处于引导程序中。</translation>
    </message>
    <message>
        <source>ERROR: Recovery failed at &quot;open the boot loader&quot;: the boot loader at %1 cannot be opened%2.</source>
        <translation>错误：恢复在“打开引导程序”一步失败：无法打开 %1 处的引导程序%2。</translation>
    </message>
    <message>
        <source>ERROR: Recovery failed at &quot;load into RAM&quot;: the file is not a valid firmware image.</source>
        <translation>错误：恢复在“载入内存”一步失败：该文件不是有效的固件映像。</translation>
    </message>
    <message>
        <source>ERROR: Recovery failed at &quot;load into RAM&quot;: writing %1 bytes at %2 failed%3.</source>
        <translation>错误：恢复在“载入内存”一步失败：在 %2 写入 %1 字节失败%3。</translation>
    </message>
    <message>
        <source>ERROR: Recovery failed at &quot;load into RAM&quot;: reading %1 bytes back at %2 failed%3.</source>
        <translation>错误：恢复在“载入内存”一步失败：在 %2 读回 %1 字节失败%3。</translation>
    </message>
    <message>
        <source>ERROR: Recovery failed at &quot;load into RAM&quot;: the %1 bytes read back at %2 differ from the image.</source>
        <translation>错误：恢复在“载入内存”一步失败：在 %2 读回的 %1 字节与映像不同。</translation>
    </message>
    <message>
        <source>ERROR: Recovery failed at &quot;check the RAM&quot;: checksum %1, the image says %2.</source>
        <translation>错误：恢复在“检查内存”一步失败：校验和为 %1，映像中记载为 %2。</translation>
    </message>
    <message>
        <source>ERROR: Recovery failed at &quot;wait for the camera&quot;: %1 cameras came up at once, so the recovered one is not known.</source>
        <translation>错误：恢复在“等待相机”一步失败：同时出现了 %1 台相机，无法确定哪一台是被恢复的相机。</translation>
    </message>
    <message>
        <source>ERROR: Recovery failed at &quot;wait for the camera&quot;: no camera came up within %1 s of the start.</source>
        <translation>错误：恢复在“等待相机”一步失败：启动后 %1 秒内没有相机出现。</translation>
    </message>
    <message>
        <source>ERROR: Recovery failed at &quot;open the camera&quot;: the camera at %1 cannot be opened or does not answer%2.</source>
        <translation>错误：恢复在“打开相机”一步失败：无法打开 %1 处的相机或相机无应答%2。</translation>
    </message>
    <message>
        <source>ERROR: Recovery failed at &quot;load into RAM&quot;: another program holds the boot loader%1.</source>
        <translation>错误：恢复在“载入内存”一步失败：另一个程序占用着引导程序%1。</translation>
    </message>
    <message>
        <source>ERROR: Recovery failed at &quot;load into RAM&quot;: the boot loader cannot be taken for the load%1.</source>
        <translation>错误：恢复在“载入内存”一步失败：无法为载入独占引导程序%1。</translation>
    </message>
    <message>
        <source>Loading the image into the camera&apos;s RAM (%1 bytes in %2 section(s))...</source>
        <translation>正在把固件映像载入相机内存（%1 字节，%2 个段）…</translation>
    </message>
</context>
<context>
    <name>Fx3BootImage</name>
    <message>
        <source>not a regular file</source>
        <translation>不是普通文件</translation>
    </message>
    <message>
        <source>the file cannot be read (%1)</source>
        <translation>无法读取该文件（%1）</translation>
    </message>
    <message>
        <source>the file is empty</source>
        <translation>文件为空</translation>
    </message>
    <message>
        <source>the file holds %1 bytes; the firmware area takes at most %2</source>
        <translation>文件有 %1 字节；固件区最多只能容纳 %2 字节</translation>
    </message>
    <message>
        <source>it does not start with the FX3 boot-image signature &quot;CY&quot;</source>
        <translation>文件开头不是 FX3 引导映像标志“CY”</translation>
    </message>
    <message>
        <source>bImageCTL is %1: its bits 7:6 must be 0</source>
        <translation>bImageCTL 为 %1：其第 7:6 位必须为 0</translation>
    </message>
    <message>
        <source>bImageCTL is %1: bit 0 marks a data image, not executable firmware</source>
        <translation>bImageCTL 为 %1：第 0 位表示数据映像，而不是可执行的固件</translation>
    </message>
    <message>
        <source>bImageType is %1, not 0xB0 (firmware with checksum)</source>
        <translation>bImageType 为 %1，而不是 0xB0（带校验和的固件）</translation>
    </message>
    <message>
        <source>section %1 at offset %2 claims %3 bytes, but only %4 follow</source>
        <translation>偏移 %2 处的第 %1 段声明有 %3 字节，但其后只有 %4 字节</translation>
    </message>
    <message>
        <source>section %1 loads to %2, which is not a multiple of 4</source>
        <translation>第 %1 段的载入地址 %2 不是 4 的倍数</translation>
    </message>
    <message>
        <source>section %1 (%2 bytes at %3) lies outside ITCM (0x00000000-0x00003FFF) and SYSMEM (0x40000000-0x4007FFFF)</source>
        <translation>第 %1 段（%3 处的 %2 字节）不在 ITCM（0x00000000-0x00003FFF）和 SYSMEM（0x40000000-0x4007FFFF）之内</translation>
    </message>
    <message>
        <source>it holds no section: there is no firmware to load</source>
        <translation>其中没有任何段：没有可载入的固件</translation>
    </message>
    <message>
        <source>it ends at offset %1 without a terminator (a section of length 0 naming the entry point)</source>
        <translation>文件在偏移 %1 处结束，缺少结束记录（长度为 0 并给出入口地址的段）</translation>
    </message>
    <message>
        <source>the entry point %1 lies outside ITCM and SYSMEM</source>
        <translation>入口地址 %1 不在 ITCM 和 SYSMEM 之内</translation>
    </message>
    <message>
        <source>it ends at offset %1, where the checksum should follow the terminator</source>
        <translation>文件在偏移 %1 处结束，而结束记录之后应当是校验和</translation>
    </message>
    <message>
        <source>checksum %1, the image says %2</source>
        <translation>校验和为 %1，映像中记载为 %2</translation>
    </message>
    <message>
        <source>%1 bytes follow the checksum at offset %2</source>
        <translation>偏移 %2 处的校验和之后还有 %1 字节</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>CameraFlashwick</source>
        <translation>CameraFlashwick</translation>
    </message>
    <message>
        <source>Quenvor</source>
        <translation>Quenvor</translation>
    </message>
    <message>
        <source>firmware download page...</source>
        <translation>固件下载页面…</translation>
    </message>
    <message>
        <source>settings</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>...</source>
        <translation>...</translation>
    </message>
    <message>
        <source>Camera</source>
        <translation>相机</translation>
    </message>
    <message>
        <source>Connected Camera:</source>
        <translation>已连接相机：</translation>
    </message>
    <message>
        <source>switch camera</source>
        <translation>切换相机</translation>
    </message>
    <message>
        <source>scan and refresh connected cameras</source>
        <translation>扫描并刷新已连接的相机</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>刷新</translation>
    </message>
    <message>
        <source>reboot the camera firmware</source>
        <translation>重启相机固件</translation>
    </message>
    <message>
        <source>Reset FX</source>
        <translation>复位 FX</translation>
    </message>
    <message>
        <source>Current Camera Info</source>
        <translation>当前相机信息</translation>
    </message>
    <message>
        <source>FW Version: </source>
        <translation>固件版本：</translation>
    </message>
    <message>
        <source>V0.0</source>
        <translation>V0.0</translation>
    </message>
    <message>
        <source>FPGA Version: </source>
        <translation>FPGA 版本：</translation>
    </message>
    <message>
        <source>V0.0.0.0</source>
        <translation>V0.0.0.0</translation>
    </message>
    <message>
        <source>Connection:</source>
        <translation>连接：</translation>
    </message>
    <message>
        <source>USB3.0</source>
        <translation>USB3.0</translation>
    </message>
    <message>
        <source>SN:</source>
        <translation>序列号：</translation>
    </message>
    <message>
        <source>00000000000000000000</source>
        <translation>00000000000000000000</translation>
    </message>
    <message>
        <source>copy SN of camera to clipboard</source>
        <translation>将相机序列号复制到剪贴板</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>复制</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>升级</translation>
    </message>
    <message>
        <source>select a firmware file(*.img)</source>
        <translation>选择固件文件(*.img)</translation>
    </message>
    <message>
        <source>Select FW File</source>
        <translation>选择固件文件</translation>
    </message>
    <message>
        <source>write firmware to camera</source>
        <translation>将固件写入相机</translation>
    </message>
    <message>
        <source>Write FW</source>
        <translation>写入固件</translation>
    </message>
    <message>
        <source>path to the firmware file</source>
        <translation>固件文件路径</translation>
    </message>
    <message>
        <source>recommend that don&apos;t contain spaces or special characters in the path</source>
        <translation>建议路径中不要包含空格或特殊字符</translation>
    </message>
    <message>
        <source>select a FPGA file(*.bit)</source>
        <translation>选择 FPGA 文件(*.bit)</translation>
    </message>
    <message>
        <source>Select FPGA File</source>
        <translation>选择 FPGA 文件</translation>
    </message>
    <message>
        <source>write FPGA to camera</source>
        <translation>将 FPGA 写入相机</translation>
    </message>
    <message>
        <source>Write FPGA</source>
        <translation>写入 FPGA</translation>
    </message>
    <message>
        <source>path to the FPGA file</source>
        <translation>FPGA 文件路径</translation>
    </message>
    <message>
        <source>Writing Progress:</source>
        <translation>写入进度：</translation>
    </message>
    <message>
        <source>writing progress</source>
        <translation>写入进度</translation>
    </message>
    <message>
        <source>Filter Wheel</source>
        <translation>滤镜轮</translation>
    </message>
    <message>
        <source>Connected ZW:</source>
        <translation>已连接 ZW：</translation>
    </message>
    <message>
        <source>switch wheel</source>
        <translation>切换滤镜轮</translation>
    </message>
    <message>
        <source>scan and refresh connected wheels</source>
        <translation>扫描并刷新已连接的滤镜轮</translation>
    </message>
    <message>
        <source>Goto:</source>
        <translation>转到：</translation>
    </message>
    <message>
        <source>go to position</source>
        <translation>转到指定孔位</translation>
    </message>
    <message>
        <source>set the wheel to unidirectional</source>
        <translation>将滤镜轮设为单向转动</translation>
    </message>
    <message>
        <source>One-Way</source>
        <translation>单向</translation>
    </message>
    <message>
        <source>reset the wheel</source>
        <translation>复位滤镜轮</translation>
    </message>
    <message>
        <source>Reset</source>
        <translation>复位</translation>
    </message>
    <message>
        <source>Current ZW Info</source>
        <translation>当前 ZW 信息</translation>
    </message>
    <message>
        <source>FW Version:</source>
        <translation>固件版本：</translation>
    </message>
    <message>
        <source>V1.0</source>
        <translation>V1.0</translation>
    </message>
    <message>
        <source>Position Count:</source>
        <translation>孔位数：</translation>
    </message>
    <message>
        <source>0</source>
        <translation>0</translation>
    </message>
    <message>
        <source>000000000000000000000000</source>
        <translation>000000000000000000000000</translation>
    </message>
    <message>
        <source>copy SN of wheel to clipboard</source>
        <translation>将滤镜轮序列号复制到剪贴板</translation>
    </message>
    <message>
        <source>select a firmware file(*.hex)</source>
        <translation>选择固件文件(*.hex)</translation>
    </message>
    <message>
        <source>write firmware to filter wheel</source>
        <translation>将固件写入滤镜轮</translation>
    </message>
    <message>
        <source>Motor</source>
        <translation>电机</translation>
    </message>
    <message>
        <source>What&apos;s this?</source>
        <translation>这是什么？</translation>
    </message>
    <message>
        <source>Read Motor Info</source>
        <translation>读取电机信息</translation>
    </message>
    <message>
        <source>Set Motor Power</source>
        <translation>设置电机功率</translation>
    </message>
    <message>
        <source>Default</source>
        <translation>默认</translation>
    </message>
    <message>
        <source>High</source>
        <translation>高</translation>
    </message>
    <message>
        <source>Max</source>
        <translation>最大</translation>
    </message>
    <message>
        <source>firmwares download page...</source>
        <translation>固件下载页面…</translation>
    </message>
    <message>
        <source>Light</source>
        <translation>浅色</translation>
    </message>
    <message>
        <source>Dark</source>
        <translation>深色</translation>
    </message>
    <message>
        <source>Need To Know</source>
        <translation>注意事项</translation>
    </message>
    <message>
        <source>About...</source>
        <translation>关于…</translation>
    </message>
    <message>
        <source>Check Update</source>
        <translation>检查更新</translation>
    </message>
    <message>
        <source>Theme</source>
        <translation>主题</translation>
    </message>
    <message>
        <source>Writing in Progress</source>
        <translation>正在写入</translation>
    </message>
    <message>
        <source>A firmware write is still running. Do not unplug the device.
Close Flashwick as soon as the write has finished?</source>
        <translation>固件仍在写入中，请勿拔出设备。
是否在写入完成后立即关闭 Flashwick？</translation>
    </message>
    <message>
        <source>Flashwick will close when the write has finished.</source>
        <translation>写入完成后 Flashwick 将自动关闭。</translation>
    </message>
    <message>
        <source>Get Connnected Camera...</source>
        <translation>正在获取已连接的相机…</translation>
    </message>
    <message>
        <source>Detect %1 Camera(s)...</source>
        <translation>检测到 %1 台相机…</translation>
    </message>
    <message>
        <source>ERROR: Open Camera Failed!!!, Please Refresh Camera!</source>
        <translation>错误：打开相机失败！请刷新相机列表！</translation>
    </message>
    <message>
        <source>Close QVR Camera(%1):!</source>
        <translation>关闭 QVR 相机(%1)！</translation>
    </message>
    <message>
        <source>ERROR: Open %1 failed!</source>
        <translation>错误：打开 %1 失败！</translation>
    </message>
    <message>
        <source>Open QVR Camera(%1), Path: %2!</source>
        <translation>已打开 QVR 相机(%1)，路径：%2</translation>
    </message>
    <message>
        <source>Waiting...</source>
        <translation>等待中…</translation>
    </message>
    <message>
        <source>Reset FX3 OK</source>
        <translation>FX3 复位成功</translation>
    </message>
    <message>
        <source>Reset FX3 failed!</source>
        <translation>FX3 复位失败！</translation>
    </message>
    <message>
        <source>Camera was not opened</source>
        <translation>相机未打开</translation>
    </message>
    <message>
        <source>SN of camera be copied to clipboard!</source>
        <translation>相机序列号已复制到剪贴板！</translation>
    </message>
    <message>
        <source>Select Firmware File</source>
        <translation>选择固件文件</translation>
    </message>
    <message>
        <source>FW (*.img)</source>
        <translation>固件 (*.img)</translation>
    </message>
    <message>
        <source>FPGA (*.bit)</source>
        <translation>FPGA (*.bit)</translation>
    </message>
    <message>
        <source>Risk Warning</source>
        <translation>风险警告</translation>
    </message>
    <message>
        <source>Please don&apos;t unplug the camera from the host!</source>
        <translation>请勿将相机从主机上拔下！</translation>
    </message>
    <message>
        <source>During writing, make sure the connection between camera and host is stable.</source>
        <translation>写入期间，请确保相机与主机之间的连接稳定。</translation>
    </message>
    <message>
        <source>Don&apos;t show again</source>
        <translation>不再显示</translation>
    </message>
    <message>
        <source>Writing FW...</source>
        <translation>正在写入固件…</translation>
    </message>
    <message>
        <source>Writing FPGA...</source>
        <translation>正在写入 FPGA…</translation>
    </message>
    <message>
        <source>ERROR: No Cameras!</source>
        <translation>错误：未找到相机！</translation>
    </message>
    <message>
        <source>ERROR: Please Select FW File(*.img)!</source>
        <translation>错误：请选择固件文件(*.img)！</translation>
    </message>
    <message>
        <source>ERROR: the FW file(*.img) is not exist!</source>
        <translation>错误：固件文件(*.img)不存在！</translation>
    </message>
    <message>
        <source>ERROR: Please Select FPGA File(*.bit)!</source>
        <translation>错误：请选择 FPGA 文件(*.bit)！</translation>
    </message>
    <message>
        <source>ERROR: the FPGA file(*.bit) is not exist!</source>
        <translation>错误：FPGA 文件(*.bit)不存在！</translation>
    </message>
    <message>
        <source>Update FPGA</source>
        <translation>升级 FPGA</translation>
    </message>
    <message>
        <source>Strongly recommended NOT to upgrade the FPGA,
unless you understand the purpose of doing so.
Continue?</source>
        <translation>强烈建议不要升级 FPGA，
除非您清楚这样做的目的。
是否继续？</translation>
    </message>
    <message>
        <source>Writing FW Successful!</source>
        <translation>固件写入成功！</translation>
    </message>
    <message>
        <source>Writing FPGA Successful!</source>
        <translation>FPGA 写入成功！</translation>
    </message>
    <message>
        <source>ERROR: Writing FW Failed!</source>
        <translation>错误：固件写入失败！</translation>
    </message>
    <message>
        <source>ERROR: Writing FPGA Failed!</source>
        <translation>错误：FPGA 写入失败！</translation>
    </message>
    <message>
        <source>Please unplug the camera and re-connnect to host!</source>
        <translation>请拔下相机，然后重新连接到主机！</translation>
    </message>
    <message>
        <source>Write FW Successful!</source>
        <translation>固件写入成功！</translation>
    </message>
    <message>
        <source>Write FPGA Successful!</source>
        <translation>FPGA 写入成功！</translation>
    </message>
    <message>
        <source>Write FW Failed!</source>
        <translation>固件写入失败！</translation>
    </message>
    <message>
        <source>Write FPGA Failed!</source>
        <translation>FPGA 写入失败！</translation>
    </message>
    <message>
        <source>Write Successfully</source>
        <translation>写入成功</translation>
    </message>
    <message>
        <source>Please unplug the camera,
and re-plug to host!</source>
        <translation>请拔下相机，
然后重新连接到主机！</translation>
    </message>
    <message>
        <source>Write Failed</source>
        <translation>写入失败</translation>
    </message>
    <message>
        <source>Please re-plug the camera,
and try again!</source>
        <translation>请重新插拔相机，
然后再试一次！</translation>
    </message>
    <message>
        <source>Get Connnected Wheel...</source>
        <translation>正在获取已连接的滤镜轮…</translation>
    </message>
    <message>
        <source>Detect %1 Wheel(s)...</source>
        <translation>检测到 %1 个滤镜轮…</translation>
    </message>
    <message>
        <source>ERROR: Open Filter Wheel Failed!!!, Please replug it! Code: %1</source>
        <translation>错误：打开滤镜轮失败！请重新插拔！错误码：%1</translation>
    </message>
    <message>
        <source>ERROR: Read Firmware Version Failed, Code: %1</source>
        <translation>错误：读取固件版本失败，错误码：%1</translation>
    </message>
    <message>
        <source>Failed to Self Test, Code: </source>
        <translation>启动自检失败，错误码：</translation>
    </message>
    <message>
        <source>Start to Self Testing!!!</source>
        <translation>开始自检！</translation>
    </message>
    <message>
        <source>Self Testing.......</source>
        <translation>正在自检……</translation>
    </message>
    <message>
        <source>Self Test Finished!!!</source>
        <translation>自检结束！</translation>
    </message>
    <message>
        <source>Self Test Error!!!</source>
        <translation>自检出错！</translation>
    </message>
    <message>
        <source>Self Test Error</source>
        <translation>自检出错</translation>
    </message>
    <message>
        <source>Self Test Error!
Please test it again!</source>
        <translation>自检出错！
请重新自检！</translation>
    </message>
    <message>
        <source>Self Test OK!!!</source>
        <translation>自检通过！</translation>
    </message>
    <message>
        <source>Self Test OK</source>
        <translation>自检通过</translation>
    </message>
    <message>
        <source>Please replugin the wheel!</source>
        <translation>请重新插拔滤镜轮！</translation>
    </message>
    <message>
        <source>Going to Position: </source>
        <translation>正在转到孔位：</translation>
    </message>
    <message>
        <source>Goto Position Failed, Code: </source>
        <translation>转到孔位失败，错误码：</translation>
    </message>
    <message>
        <source>Set One-Way OK!!!, Value: %1</source>
        <translation>单向模式设置成功！值：%1</translation>
    </message>
    <message>
        <source>Failed to Set One-Way , Code: </source>
        <translation>单向模式设置失败，错误码：</translation>
    </message>
    <message>
        <source>Reset ZW OK!!!</source>
        <translation>ZW 复位成功！</translation>
    </message>
    <message>
        <source>Failed to Reset ZW, Code: </source>
        <translation>ZW 复位失败，错误码：</translation>
    </message>
    <message>
        <source>SN of wheel be copied to clipboard!</source>
        <translation>滤镜轮序列号已复制到剪贴板！</translation>
    </message>
    <message>
        <source>ERROR: no wheels!</source>
        <translation>错误：未找到滤镜轮！</translation>
    </message>
    <message>
        <source>Wheel has an error, can not set the power of motor!</source>
        <translation>滤镜轮存在错误，无法设置电机功率！</translation>
    </message>
    <message>
        <source>Please try to eliminate this error and make the wheel work properly: </source>
        <translation>请尝试排除此错误，使滤镜轮恢复正常工作：</translation>
    </message>
    <message>
        <source>1. Try loosening the center screws of the filter plate.</source>
        <translation>1. 尝试拧松滤镜盘中心的螺丝。</translation>
    </message>
    <message>
        <source>2. If the weather is cold, bring the wheel to a warm environment.</source>
        <translation>2. 如果天气寒冷，请将滤镜轮移到温暖的环境中。</translation>
    </message>
    <message>
        <source>If the problem is not solved, please contact our support: </source>
        <translation>如果问题仍未解决，请联系我们的技术支持：</translation>
    </message>
    <message>
        <source>Wheel Error</source>
        <translation>滤镜轮错误</translation>
    </message>
    <message>
        <source>Wheel has an error, please check the suggestions in the log.</source>
        <translation>滤镜轮存在错误，请查看日志中的建议。</translation>
    </message>
    <message>
        <source>Setting the motor power...</source>
        <translation>正在设置电机功率…</translation>
    </message>
    <message>
        <source>Set motor power failed!!!</source>
        <translation>电机功率设置失败！</translation>
    </message>
    <message>
        <source>Set the motor running power OK: </source>
        <translation>电机运行功率设置成功：</translation>
    </message>
    <message>
        <source>Set motor running speed OK.</source>
        <translation>电机运行速度设置成功。</translation>
    </message>
    <message>
        <source>Set motor running speed failed!!!</source>
        <translation>电机运行速度设置失败！</translation>
    </message>
    <message>
        <source>Wheel is saving changes...</source>
        <translation>滤镜轮正在保存更改…</translation>
    </message>
    <message>
        <source>Save successfully.</source>
        <translation>保存成功。</translation>
    </message>
    <message>
        <source>Set motor power successfully.</source>
        <translation>电机功率设置成功。</translation>
    </message>
    <message>
        <source>Save failed!!!</source>
        <translation>保存失败！</translation>
    </message>
    <message>
        <source>Why set the motor power:</source>
        <translation>为什么要设置电机功率：</translation>
    </message>
    <message>
        <source>  Due to the different usage environments (such as very cold weather), the rotating shaft of the filter wheel may increase the friction, which may cause it to fail to move or the slot positions to be misaligned.</source>
        <translation>  由于使用环境不同（例如天气非常寒冷），滤镜轮转轴的摩擦力可能会增大，从而导致滤镜轮无法转动或孔位无法对准。</translation>
    </message>
    <message>
        <source>  Increasing the power of the filter wheel motor can solve this problem, however, this requires the USB port of host to have sufficient power supply capacity. If the USB port does not provide sufficient power, increasing the motor power may not have any effect.</source>
        <translation>  提高滤镜轮电机的功率可以解决这个问题，但这要求主机的 USB 端口具有足够的供电能力。如果 USB 端口供电不足，提高电机功率可能不会有任何效果。</translation>
    </message>
    <message>
        <source>If there is nothing wrong with your filter wheel, it is recommended not to change the motor power.</source>
        <translation>如果您的滤镜轮工作正常，建议不要更改电机功率。</translation>
    </message>
    <message>
        <source>FW (*.hex)</source>
        <translation>固件 (*.hex)</translation>
    </message>
    <message>
        <source>wheel firmware version NOT compatibilty!</source>
        <translation>滤镜轮固件版本不兼容！</translation>
    </message>
    <message>
        <source>Version Compatibility</source>
        <translation>版本兼容性</translation>
    </message>
    <message>
        <source>The firmware version is incompatible!
Please select the v%1.x version firmware</source>
        <translation>固件版本不兼容！
请选择 v%1.x 版本的固件</translation>
    </message>
    <message>
        <source>wheel firmware version compatibilty!</source>
        <translation>滤镜轮固件版本兼容！</translation>
    </message>
    <message>
        <source>Please don&apos;t unplug the filter wheel from the host!</source>
        <translation>请勿将滤镜轮从主机上拔下！</translation>
    </message>
    <message>
        <source>During writing, make sure the connection between filter wheel and host is stable.</source>
        <translation>写入期间，请确保滤镜轮与主机之间的连接稳定。</translation>
    </message>
    <message>
        <source>ERROR: Scan ZW bootloader failed!</source>
        <translation>错误：扫描 ZW 引导程序失败！</translation>
    </message>
    <message>
        <source>ERROR: Open ZW bootloader failed!</source>
        <translation>错误：打开 ZW 引导程序失败！</translation>
    </message>
    <message>
        <source>ERROR: Set data to ZW bootloader failed!</source>
        <translation>错误：向 ZW 引导程序载入固件数据失败！</translation>
    </message>
    <message>
        <source>Scan ZW bootloader OK!</source>
        <translation>扫描 ZW 引导程序成功！</translation>
    </message>
    <message>
        <source>ERROR: please select firmware file(*.hex)!</source>
        <translation>错误：请选择固件文件(*.hex)！</translation>
    </message>
    <message>
        <source>ERROR: the firmware file(*.hex) is not exist!</source>
        <translation>错误：固件文件(*.hex)不存在！</translation>
    </message>
    <message>
        <source>Reading and parsing the firmware file, please wait....</source>
        <translation>正在读取并解析固件文件，请稍候…</translation>
    </message>
    <message>
        <source>Start to back to bootloader</source>
        <translation>开始进入引导程序</translation>
    </message>
    <message>
        <source>Failed to back to boolloader!</source>
        <translation>进入引导程序失败！</translation>
    </message>
    <message>
        <source>Failed to back to boolloader, Code: </source>
        <translation>进入引导程序失败，错误码：</translation>
    </message>
    <message>
        <source>Back to boolloader OK!</source>
        <translation>已进入引导程序！</translation>
    </message>
    <message>
        <source>Start to scan bootloader</source>
        <translation>开始扫描引导程序</translation>
    </message>
    <message>
        <source>Please wait, bootloader is being scanned...</source>
        <translation>请稍候，正在扫描引导程序…</translation>
    </message>
    <message>
        <source>The Firmware File Error</source>
        <translation>固件文件错误</translation>
    </message>
    <message>
        <source>Wrong firmware file(*.hex), can not write to wheel.</source>
        <translation>固件文件(*.hex)有误，无法写入滤镜轮。</translation>
    </message>
    <message>
        <source>Try Again?</source>
        <translation>是否重试？</translation>
    </message>
    <message>
        <source>The system may be recognizing the bootloader of the wheel.
Do you want to try again?
(If it still doesn&apos;t work after several attempts, please re-plug the wheel.)</source>
        <translation>系统可能正在识别滤镜轮的引导程序。
是否重试？
（如果多次尝试后仍然无效，请重新插拔滤镜轮。）</translation>
    </message>
    <message>
        <source>Re-plug Wheel</source>
        <translation>重新插拔滤镜轮</translation>
    </message>
    <message>
        <source>Can not find the bootloader,
Please re-plug the wheel to host!</source>
        <translation>找不到引导程序，
请将滤镜轮重新连接到主机！</translation>
    </message>
    <message>
        <source>Start to Write FW to wheel</source>
        <translation>开始向滤镜轮写入固件</translation>
    </message>
    <message>
        <source>Start to Write FW...</source>
        <translation>开始写入固件…</translation>
    </message>
    <message>
        <source>Please re-plug the wheel to host!
(If moving, wait for it to stop moving)</source>
        <translation>请将滤镜轮重新连接到主机！
（如果滤镜轮正在转动，请等待其停止）</translation>
    </message>
    <message>
        <source>Please re-plug the wheel,
and try again!</source>
        <translation>请重新插拔滤镜轮，
然后再试一次！</translation>
    </message>
    <message>
        <source>Parse firmware file OK!</source>
        <translation>固件文件解析成功！</translation>
    </message>
    <message>
        <source>Parse firmware file error: PARSE_OPEN_ERROR!!!</source>
        <translation>固件文件解析错误：PARSE_OPEN_ERROR！</translation>
    </message>
    <message>
        <source>Parse firmware file error: PARSE_ENDLINE_ERROR!!! Code: %1</source>
        <translation>固件文件解析错误：PARSE_ENDLINE_ERROR！代码：%1</translation>
    </message>
    <message>
        <source>Parse firmware file error: PARSE_FORMAT_ERROR!!! Code: %1</source>
        <translation>固件文件解析错误：PARSE_FORMAT_ERROR！代码：%1</translation>
    </message>
    <message>
        <source>Parse firmware file error: PARSE_DATA_LEN_ERROR!!! Code: %1</source>
        <translation>固件文件解析错误：PARSE_DATA_LEN_ERROR！代码：%1</translation>
    </message>
    <message>
        <source>Parse firmware file error: PARSE_CHECKSUM_ERROR!!! Code: %1</source>
        <translation>固件文件解析错误：PARSE_CHECKSUM_ERROR！代码：%1</translation>
    </message>
    <message>
        <source>Parse firmware file errorr: PARSE_FORMAT_ERROR!!! Code: 04</source>
        <translation>固件文件解析错误：PARSE_FORMAT_ERROR！代码：04</translation>
    </message>
    <message>
        <source>Permission denied on %1: install 60-flashwick.rules (see README) and re-plug the device.</source>
        <translation>无权访问 %1：请安装 60-flashwick.rules（见 README）并重新插拔设备。</translation>
    </message>
    <message>
        <source>Parse firmware file error: PARSE_SIZE_ERROR!!! The file has %1 bytes, a wheel firmware file has at most %2 bytes.</source>
        <translation>固件文件解析错误：PARSE_SIZE_ERROR！文件有 %1 字节，滤镜轮固件文件最多 %2 字节。</translation>
    </message>
    <message>
        <source>ERROR: the firmware file(*.hex) holds no data to write to the wheel!</source>
        <translation>错误：固件文件(*.hex)中没有可写入滤镜轮的数据！</translation>
    </message>
    <message>
        <source>ERROR: the firmware image has %1 bytes, the wheel takes at most %2 bytes!</source>
        <translation>错误：固件映像有 %1 字节，滤镜轮最多只能写入 %2 字节！</translation>
    </message>
    <message>
        <source>ERROR: the firmware image starts at 0x%1, the wheel&apos;s firmware must start at an address ending in %2!</source>
        <translation>错误：固件映像起始地址为 0x%1，滤镜轮固件的起始地址必须以 %2 结尾！</translation>
    </message>
    <message>
        <source>%1 in the system&apos;s library folders</source>
        <translation>系统库目录中的 %1</translation>
    </message>
    <message>
        <source>Filter wheel library DevizuvEZ not found (looked for %1): wheels cannot be controlled. Install the maker&apos;s library (see README).</source>
        <translation>未找到滤镜轮库 DevizuvEZ（已查找 %1）：无法控制滤镜轮。请安装厂商提供的库（见 README）。</translation>
    </message>
    <message>
        <source>Filter wheel library %1 cannot be loaded (%2): wheels cannot be controlled. Install the maker&apos;s library (see README).</source>
        <translation>无法加载滤镜轮库 %1（%2）：无法控制滤镜轮。请安装厂商提供的库（见 README）。</translation>
    </message>
    <message>
        <source>Filter wheel library %1 lacks the function(s) %2: wheels cannot be controlled. Install the maker&apos;s library (see README).</source>
        <translation>滤镜轮库 %1 缺少函数 %2：无法控制滤镜轮。请安装厂商提供的库（见 README）。</translation>
    </message>
    <message>
        <source>Recover Camera...</source>
        <translation>恢复相机…</translation>
    </message>
    <message>
        <source>A camera without firmware is connected (FX3 USB boot loader at %1): choose &quot;Recover Camera...&quot; in the menu to write its firmware again.</source>
        <translation>已连接一台没有固件的相机（%1 处的 FX3 USB 引导程序）：请在菜单中选择“恢复相机…”重新写入其固件。</translation>
    </message>
    <message>
        <source>ERROR: the FW file(*.img) is not a valid firmware image: %1!</source>
        <translation>错误：固件文件(*.img)不是有效的固件映像：%1！</translation>
    </message>
    <message>
        <source>Invalid Firmware File</source>
        <translation>无效的固件文件</translation>
    </message>
    <message>
        <source>The file is not a firmware image that the camera can start:
%1.
Nothing was written.</source>
        <translation>该文件不是相机能够启动的固件映像：
%1。
没有写入任何内容。</translation>
    </message>
    <message>
        <source>ERROR: No camera in its FX3 USB boot loader (04B4:00F3) is connected!</source>
        <translation>错误：没有连接处于 FX3 USB 引导程序（04B4:00F3）中的相机！</translation>
    </message>
    <message>
        <source>Recovering the camera in the boot loader at %1 with %2...</source>
        <translation>正在用 %2 恢复 %1 处引导程序中的相机…</translation>
    </message>
    <message>
        <source>Loading FW into RAM...</source>
        <translation>正在把固件载入内存…</translation>
    </message>
    <message>
        <source>The camera is still in its boot loader: Recover Camera... can try again.</source>
        <translation>相机仍处于引导程序中：可以用“恢复相机…”再试一次。</translation>
    </message>
    <message>
        <source>Please re-plug the camera: without firmware in its flash it comes back in its boot loader.</source>
        <translation>请重新插拔相机：闪存中没有固件时，它会重新进入引导程序。</translation>
    </message>
    <message>
        <source>Recover Camera Failed!</source>
        <translation>恢复相机失败！</translation>
    </message>
    <message>
        <source>Recovery Failed</source>
        <translation>恢复失败</translation>
    </message>
    <message>
        <source>The camera is still in its boot loader.
Check the connection and try again.</source>
        <translation>相机仍处于引导程序中。
请检查连接后再试。</translation>
    </message>
    <message>
        <source>Waiting for the camera...</source>
        <translation>正在等待相机…</translation>
    </message>
    <message>
        <source>ERROR: the FPGA file(*.bit) is an FX3 firmware image, not an FPGA bitstream!</source>
        <translation>错误：FPGA 文件(*.bit)是 FX3 固件映像，不是 FPGA 比特流！</translation>
    </message>
    <message>
        <source>ERROR: the FPGA file(*.bit) is an Intel HEX file, not an FPGA bitstream!</source>
        <translation>错误：FPGA 文件(*.bit)是 Intel HEX 文件，不是 FPGA 比特流！</translation>
    </message>
    <message>
        <source>ERROR: the camera is in use by another program: close it and try again</source>
        <translation>错误：相机正被其他程序使用：请关闭该程序后重试</translation>
    </message>
    <message>
        <source>ERROR: the camera is in use by another program: close it and try again (open in: %1)</source>
        <translation>错误：相机正被其他程序使用：请关闭该程序后重试（已打开相机的程序：%1）</translation>
    </message>
    <message>
        <source>ERROR: line %1 of the firmware file(*.hex) holds data for address 0x%2, expected 0x%3: its records must follow each other without gaps or overlaps!</source>
        <translation>错误：固件文件(*.hex)第 %1 行的数据地址为 0x%2，应为 0x%3：文件中的记录必须首尾相接，不能有间隙或重叠！</translation>
    </message>
    <message>
        <source>ERROR: Flashwick will close when the running write has finished, no new write is started!</source>
        <translation>错误：Flashwick 将在正在进行的写入结束后关闭，不再开始新的写入！</translation>
    </message>
    <message>
        <source>ERROR: the selected camera changed or left before the write began, nothing was written!</source>
        <translation>错误：写入开始前所选相机已更换或已断开，未写入任何内容！</translation>
    </message>
    <message>
        <source>Camera Changed</source>
        <translation>相机已更换</translation>
    </message>
    <message>
        <source>The selected camera changed or was unplugged before the write began.
Nothing was written. Please check the camera and try again.</source>
        <translation>写入开始前所选相机已更换或已拔出。
未写入任何内容。请检查相机后重试。</translation>
    </message>
    <message>
        <source>ERROR: the motor power is being set, please wait until it is saved!</source>
        <translation>错误：正在设置电机功率，请等待保存完成！</translation>
    </message>
    <message>
        <source>ERROR: %1 wheel bootloaders appeared, the selected wheel&apos;s cannot be told apart: please unplug the others!</source>
        <translation>错误：出现了 %1 个滤镜轮引导程序，无法分辨哪一个属于所选滤镜轮：请拔下其他滤镜轮！</translation>
    </message>
    <message>
        <source>ERROR: the selected wheel changed or left before the update began, nothing was sent to a wheel!</source>
        <translation>错误：更新开始前所选滤镜轮已更换或已断开，未向任何滤镜轮发送内容！</translation>
    </message>
    <message>
        <source>Wheel Changed</source>
        <translation>滤镜轮已更换</translation>
    </message>
    <message>
        <source>The selected wheel changed or was unplugged before the update began.
Nothing was written. Please check the wheel and try again.</source>
        <translation>更新开始前所选滤镜轮已更换或已拔出。
未写入任何内容。请检查滤镜轮后重试。</translation>
    </message>
</context>
<context>
    <name>NeedToKnowDialog</name>
    <message>
        <source>Need To Know</source>
        <translation>注意事项</translation>
    </message>
    <message>
        <source>Don&apos;t Show Again</source>
        <translation>不再显示</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>If your device (camera, filter wheel, etc.) is working fine, you should not upgrade the firmware.</source>
        <translation>如果您的设备（相机、滤镜轮等）工作正常，请不要升级固件。</translation>
    </message>
    <message>
        <source>When upgrading the firmware of the device, please keep the connection between the device and the host stable. During the upgrade process, if the connection with the host is disconnected, the device may become unusable.</source>
        <translation>升级设备固件时，请保持设备与主机之间的连接稳定。升级过程中如果与主机的连接断开，设备可能会无法使用。</translation>
    </message>
    <message>
        <source>Please select the firmware that corresponds to your device, writing the wrong firmware to your device can cause it to work improperly.</source>
        <translation>请选择与您的设备相对应的固件，向设备写入错误的固件可能导致设备无法正常工作。</translation>
    </message>
    <message>
        <source>If you have any questions about upgrading firmware, please contact us: </source>
        <translation>如果您对固件升级有任何疑问，请联系我们：</translation>
    </message>
</context>
<context>
    <name>QPlatformTheme</name>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>&amp;Yes</source>
        <translation>是(&amp;Y)</translation>
    </message>
    <message>
        <source>&amp;No</source>
        <translation>否(&amp;N)</translation>
    </message>
</context>
</TS>
