<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>Cli</name>
    <message>
        <source>Usage: progread [--port PORT] [--dir DIR] [--fast] [--verify] [--trace FILE] [--lang zh|en]
  or:  progread --read PORT [--dir DIR] [--fast] [--verify] [--trace FILE] [--lang zh|en]
  or:  progread --list-ports

Reads the program out of a controller on a serial port into duqu.pmw, headed by the first
256 bytes of the template moban.pmw.

  --port PORT    open the window with PORT in the port field (else the port of the last
                 read that finished, else 1)
  --read PORT    read one program without a window; progress and the outcome go to standard
                 error. Exit status 0: a complete image was written; 1: the upload failed;
                 129 / 130 / 143: stopped by SIGHUP (terminal closed) / SIGINT (Ctrl-C) /
                 SIGTERM.
  --dir DIR      keep the files in DIR instead of the folder named at the end
  --fast         send each request as soon as the answer before it is handled instead of on
                 the 100 ms tick; only for a controller known to take requests back to back
  --verify       read the program a second time and write the image only when both reads
                 agree byte for byte
  --trace FILE   append every request and answer to FILE, with the time to the millisecond
                 and what became of each answer
  --lang zh|en   the language of messages (default: the system&apos;s)
  --list-ports   print the serial ports this system has, one a line: path, /dev/serial/by-id
                 name, description, manufacturer, serial number, separated by tabs
  --help         this text
  --version      the version, and the version of Qt it runs on

PORT is a port number (1 is the first port: /dev/ttyS0 on Linux, COM1 on Windows) or a
device path such as /dev/ttyUSB0. A usage error, and the window without a display, exit
with status 2.

A read goes to duqu.pmw.part and becomes duqu.pmw only when it is complete; a read that
stops keeps its blocks in duqu.pmw.part. An earlier duqu.pmw is moved into history/. These
files lie in the program&apos;s folder or, where that is not writable, in Documents/progread of
the user.
</source>
        <translation>用法：progread [--port 串口] [--dir 文件夹] [--fast] [--verify] [--trace 文件] [--lang zh|en]
  或：progread --read 串口 [--dir 文件夹] [--fast] [--verify] [--trace 文件] [--lang zh|en]
  或：progread --list-ports

从串口上的控制器读出程序，存为 duqu.pmw，文件头取自模板 moban.pmw 的前 256 字节。

  --port 串口    打开窗口，串口号填入该串口（不给时用上次读取成功的串口，否则为 1）
  --read 串口    不开窗口读取一次；进度和结果输出到标准错误。
                 退出码 0：已写出完整程序文件；1：读取失败；
                 129 / 130 / 143：终端关闭（SIGHUP）/ Ctrl-C（SIGINT）/ SIGTERM 停止。
  --dir 文件夹   文件放在该文件夹，而不是最后一行所说的文件夹
  --fast         收到应答后立即发下一个请求，不等 100 毫秒节拍；
                 只用于确认能连续接收请求的控制器
  --verify       把程序再读一遍，两遍逐字节一致才写出程序文件
  --trace 文件   把每个请求和应答追加到该文件，带毫秒时间和每个应答的处理结果
  --lang zh|en   提示信息的语言（默认跟随系统）
  --list-ports   列出本机的串口，每行一个：路径、/dev/serial/by-id 名称、描述、
                 厂商、序列号，用制表符分隔
  --help         显示本说明
  --version      显示版本和所用的 Qt 版本

串口可以是串口号（1 是第一个串口：Linux 上是 /dev/ttyS0，Windows 上是 COM1），
也可以是设备路径，例如 /dev/ttyUSB0。用法错误，以及没有显示器时打开窗口，退出码为 2。

读取先写入 duqu.pmw.part，读完后才改名为 duqu.pmw；中途停止时已读的块保留在
duqu.pmw.part。原有的 duqu.pmw 会移到 history/ 里。这些文件放在程序所在文件夹；
该文件夹不能写入时，放在用户的 Documents/progread。
</translation>
    </message>
    <message>
        <source>(try progread --help)</source>
        <translation>（用 progread --help 查看用法）</translation>
    </message>
    <message>
        <source>unknown option %1</source>
        <translation>没有这个选项：%1</translation>
    </message>
    <message>
        <source>%1 needs a value</source>
        <translation>%1 后面要跟一个值</translation>
    </message>
    <message>
        <source>--lang takes zh or en, not %1</source>
        <translation>--lang 只能是 zh 或 en，不能是 %1</translation>
    </message>
    <message>
        <source>--port is for the window; --read takes its own port</source>
        <translation>--port 用于窗口；--read 自带串口，两者不能同时用</translation>
    </message>
    <message>
        <source>cannot open the trace file %1: %2</source>
        <translation>无法打开通信记录文件 %1：%2</translation>
    </message>
    <message>
        <source>progread: no display was found, so the window cannot open. To read without a window: progread --read PORT (progread --help says more).</source>
        <translation>progread：没有找到显示器，窗口打不开。不用窗口读取：progread --read 串口（详见 progread --help）。</translation>
    </message>
    <message>
        <source>The image file cannot be prepared:
%1</source>
        <translation>程序文件无法准备：
%1</translation>
    </message>
    <message>
        <source>--trace %1 would write into %2, one of progread&apos;s own files; give the trace another name</source>
        <translation>--trace %1 会写进 %2，这是 progread 自己的文件；请给通信记录文件另起名字</translation>
    </message>
</context>
<context>
    <name>FileReport</name>
    <message>
        <source>1 block</source>
        <translation>1 块</translation>
    </message>
    <message>
        <source>%1 blocks</source>
        <translation>%1 块</translation>
    </message>
    <message>
        <source>Files are kept in %1, the program&apos;s folder.</source>
        <translation>文件保存在程序所在文件夹 %1。</translation>
    </message>
    <message>
        <source>Files are kept in %1 (the program&apos;s folder is not writable).</source>
        <translation>文件保存在 %1（程序所在文件夹不能写入）。</translation>
    </message>
    <message>
        <source>Files are kept in %1.</source>
        <translation>文件保存在 %1。</translation>
    </message>
    <message>
        <source>The earlier image was moved to %1.</source>
        <translation>原来的程序文件已移到 %1。</translation>
    </message>
    <message>
        <source>The earlier read&apos;s %1 (%2) was moved to %3.</source>
        <translation>上次读入留下的 %1（%2）已移到 %3。</translation>
    </message>
    <message>
        <source>The complete image stays in %1 under that name.</source>
        <translation>完整的程序保留在 %1，文件名不变。</translation>
    </message>
    <message>
        <source>Incomplete: %1 kept in %2; no %3 was written.</source>
        <translation>未读完：已读的 %1保存在 %2；没有生成 %3。</translation>
    </message>
    <message>
        <source>The earlier read&apos;s %1, a complete image (%2), was moved to %3.</source>
        <translation>上次读入留下的 %1 是完整的程序文件（%2），已移到 %3。</translation>
    </message>
    <message>
        <source>Made the folder %1.</source>
        <translation>已新建文件夹 %1。</translation>
    </message>
</context>
<context>
    <name>Words</name>
    <message>
        <source>%1 %2</source>
        <comment>one sentence after another</comment>
        <translation>%1%2</translation>
    </message>
    <message>
        <source>Block %1: %2 bytes read, %3 bytes/s, %4 s, %5 retries</source>
        <translation>块 %1：已读 %2 字节，%3 字节/秒，%4 秒，重试 %5 次</translation>
    </message>
    <message>
        <source>Read %1 bytes, %2 blocks, in %3 s (%4 bytes/s), %5 retries; verified: a second read agreed byte for byte.</source>
        <translation>共读 %1 字节，%2 块，用时 %3 秒（%4 字节/秒），重试 %5 次；已校验：第二遍读取逐字节一致。</translation>
    </message>
    <message>
        <source>Read %1 bytes, %2 blocks, in %3 s (%4 bytes/s), %5 retries.</source>
        <translation>共读 %1 字节，%2 块，用时 %3 秒（%4 字节/秒），重试 %5 次。</translation>
    </message>
    <message>
        <source>%1 blocks were confirmed by a second reply.</source>
        <translation>%1 块由第二次应答确认。</translation>
    </message>
    <message>
        <source>%1 blocks were read twice and agreed.</source>
        <translation>%1 块读了两遍，结果一致。</translation>
    </message>
    <message>
        <source>Image: %1 (%2 bytes).</source>
        <translation>程序文件：%1（%2 字节）。</translation>
    </message>
    <message>
        <source>no reply</source>
        <translation>无应答</translation>
    </message>
    <message>
        <source>malformed reply (%1)</source>
        <translation>应答格式错误（%1）</translation>
    </message>
    <message>
        <source>checksum mismatch (%1)</source>
        <translation>校验和不符（%1）</translation>
    </message>
    <message>
        <source>overflow</source>
        <translation>溢出</translation>
    </message>
    <message>
        <source>subscript out of range</source>
        <translation>下标越界</translation>
    </message>
    <message>
        <source>type mismatch</source>
        <translation>类型不符</translation>
    </message>
    <message>
        <source>file error</source>
        <translation>文件错误</translation>
    </message>
    <message>
        <source>serial port error</source>
        <translation>串口错误</translation>
    </message>
    <message>
        <source>error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <comment>an error&apos;s kind, then what happened</comment>
        <translation>%1：%2</translation>
    </message>
    <message>
        <source>Check that the cable is plugged in at both ends, that the controller is powered and in a state that answers (not stopped on an error, not talking to another device), that this is the controller&apos;s port, and that a USB adapter is set to 9600 baud, 7 data bits, even parity, 1 stop bit (7E1).</source>
        <translation>请检查：通信线两头是否插好；控制器是否通电、能否应答（没有报错停机，没有在和别的设备通信）；串口是否选对；USB 转串口是否设为 9600 波特、7 位数据、偶校验、1 位停止位（7E1）。</translation>
    </message>
    <message>
        <source>block %1: no reply after %2 requests.</source>
        <translation>块 %1：请求 %2 次都无应答。</translation>
    </message>
    <message>
        <source>block %1: %2 after %3 requests. Check the cable and its plugs, and that the adapter is set to 9600 baud 7E1.</source>
        <translation>块 %1：请求 %3 次后仍是%2。请检查通信线和插头，以及转换器是否设为 9600 波特 7E1。</translation>
    </message>
    <message>
        <source>the line is out of step: an answer came when none was due (last block taken: %1). Make sure no other program uses the port, then read again.</source>
        <translation>通信错位：没有请求时收到了应答（最后采用的块：%1）。请确认没有别的程序在用这个串口，然后重新读取。</translation>
    </message>
    <message>
        <source>none</source>
        <translation>无</translation>
    </message>
    <message>
        <source>end of program memory (%1) reached without an end marker. Check that the controller holds a program, then read again.</source>
        <translation>已读到程序存储器末尾（%1），没有找到结束标记。请确认控制器里有程序，然后重新读取。</translation>
    </message>
    <message>
        <source>block %1 read a second time differs from the first read: the line lost track of its answers, or the program changed meanwhile. Read again.</source>
        <translation>块 %1 第二遍读取与第一遍不同：通信对不上了，或程序在读取期间被改过。请重新读取。</translation>
    </message>
    <message>
        <source>the port was changed to %1 during the read.</source>
        <translation>读取过程中串口改成了 %1。</translation>
    </message>
    <message>
        <source>no port chosen: type the port into 串口号.</source>
        <translation>没有选串口：请在“串口号”里填写串口。</translation>
    </message>
    <message>
        <source>cannot open %1: no such device.</source>
        <translation>无法打开 %1：没有这个设备。</translation>
    </message>
    <message>
        <source>This system has no serial ports now: check that the adapter is plugged in.</source>
        <translation>本机现在没有串口：请检查转换器是否插好。</translation>
    </message>
    <message>
        <source>Ports on this system: %1.</source>
        <translation>本机现有串口：%1。</translation>
    </message>
    <message>
        <source>A USB adapter that disappears right after plugging in may have been claimed by brltty (a braille display service): remove it (sudo apt remove brltty) and plug the adapter in again.</source>
        <translation>如果 USB 转串口插上后马上消失，可能被 brltty（盲文显示服务）占用了：卸载它（sudo apt remove brltty），再重新插上转换器。</translation>
    </message>
    <message>
        <source>cannot open %1: in use by another program (%2). Close the other program.</source>
        <translation>无法打开 %1：被别的程序占用（%2）。请关闭那个程序。</translation>
    </message>
    <message>
        <source>Just after plugging in, ModemManager probes a new serial port for some seconds: wait a little and try again.</source>
        <translation>刚插上时，ModemManager 会探测新串口几秒钟：稍等一会再试。</translation>
    </message>
    <message>
        <source>sudo usermod -aG %1 &quot;$USER&quot;, then log out and in again</source>
        <translation>sudo usermod -aG %1 &quot;$USER&quot;，然后注销再重新登录</translation>
    </message>
    <message>
        <source>cannot open %1: permission denied; the user must be in the group &apos;%2&apos; (%3).</source>
        <translation>无法打开 %1：没有权限；当前用户要加入“%2”组（%3）。</translation>
    </message>
    <message>
        <source>cannot open %1: permission denied; only root may open it. Add a udev rule that gives the device to the group &apos;%2&apos; with mode 0660, and put the user in that group (%3).</source>
        <translation>无法打开 %1：没有权限，只有 root 能打开。请加一条 udev 规则，把设备交给“%2”组、权限 0660，再把当前用户加入该组（%3）。</translation>
    </message>
    <message>
        <source>cannot open %1: already open.</source>
        <translation>无法打开 %1：已经打开了。</translation>
    </message>
    <message>
        <source>cannot open %1: %2. Check that this is a serial port.</source>
        <translation>无法打开 %1：%2。请确认这是一个串口。</translation>
    </message>
    <message>
        <source>cannot write to %1: %2. Check the adapter and its cable.</source>
        <translation>无法向 %1 发送：%2。请检查转换器和通信线。</translation>
    </message>
    <message>
        <source>the port %1 went away (%2); it has been closed. Check that the adapter is plugged in.</source>
        <translation>串口 %1 断开了（%2），已关闭。请检查转换器是否插好。</translation>
    </message>
    <message>
        <source>A USB adapter that disappears right after plugging in may have been claimed by brltty: remove it (sudo apt remove brltty).</source>
        <translation>如果 USB 转串口插上后马上消失，可能被 brltty 占用了：卸载它（sudo apt remove brltty）。</translation>
    </message>
    <message>
        <source>the port field is empty</source>
        <translation>串口号是空的</translation>
    </message>
    <message>
        <source>port %1 does not exist; ports are numbered from 1</source>
        <translation>没有串口 %1；串口号从 1 开始</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is neither a port number nor a device path</source>
        <translation>“%1”不是串口号，也不是设备路径</translation>
    </message>
    <message>
        <source>Check that the disk has room and that the folder may be written to.</source>
        <translation>请检查磁盘是否还有空间、文件夹能否写入。</translation>
    </message>
    <message>
        <source>cannot look at %1: %2.</source>
        <translation>无法查看 %1：%2。</translation>
    </message>
    <message>
        <source>cannot remove %1: %2.</source>
        <translation>无法删除 %1：%2。</translation>
    </message>
    <message>
        <source>cannot write in the folder %1: %2.</source>
        <translation>无法在文件夹 %1 里写入：%2。</translation>
    </message>
    <message>
        <source>Choose another folder with --dir, or make this one writable.</source>
        <translation>请用 --dir 换一个文件夹，或让这个文件夹可以写入。</translation>
    </message>
    <message>
        <source>cannot read the template %1: %2.</source>
        <translation>无法读取模板 %1：%2。</translation>
    </message>
    <message>
        <source>cannot create the template %1: %2.</source>
        <translation>无法创建模板 %1：%2。</translation>
    </message>
    <message>
        <source>cannot open the template %1: %2.</source>
        <translation>无法打开模板 %1：%2。</translation>
    </message>
    <message>
        <source>cannot create the folder %1: %2.</source>
        <translation>无法创建文件夹 %1：%2。</translation>
    </message>
    <message>
        <source>cannot create %1: %2.</source>
        <translation>无法创建 %1：%2。</translation>
    </message>
    <message>
        <source>cannot write to %1: %2.</source>
        <translation>无法写入 %1：%2。</translation>
    </message>
    <message>
        <source>cannot close %1: %2.</source>
        <translation>无法关闭 %1：%2。</translation>
    </message>
    <message>
        <source>cannot rename %1 to %2: %3.</source>
        <translation>无法把 %1 改名为 %2：%3。</translation>
    </message>
    <message>
        <source>cannot move %1 to %2: %3.</source>
        <translation>无法把 %1 移到 %2：%3。</translation>
    </message>
    <message>
        <source>cannot use %1: %2.</source>
        <translation>无法使用 %1：%2。</translation>
    </message>
    <message>
        <source>cannot use %1: it is not a file; move it elsewhere.</source>
        <translation>无法使用 %1：它不是文件；请把它移走。</translation>
    </message>
    <message>
        <source>the template %1 is a link to a file that is not there; restore the file or remove the link.</source>
        <translation>模板 %1 是一个链接，指向的文件不存在；请恢复该文件或删除这个链接。</translation>
    </message>
    <message>
        <source>another progread (process %1) is using the folder %2; close it first, or give this one another folder with --dir.</source>
        <translation>另一个 progread（进程 %1）正在用文件夹 %2。先关掉它，或用 --dir 给这个换一个文件夹。</translation>
    </message>
    <message>
        <source>another progread is using the folder %1; close it first, or give this one another folder with --dir.</source>
        <translation>另一个 progread 正在用文件夹 %1。先关掉它，或用 --dir 给这个换一个文件夹。</translation>
    </message>
    <message>
        <source>cannot move %1 into %2: every name for its time is taken.</source>
        <translation>无法把 %1 移入 %2：按它的时间起的文件名都已被占用。</translation>
    </message>
    <message>
        <source>the image %1 is not open.</source>
        <translation>程序文件 %1 没有打开。</translation>
    </message>
    <message>
        <source>waiting for the answer to block %1, %2 s</source>
        <translation>等待块 %1 的应答，已等 %2 秒</translation>
    </message>
    <message>
        <source>refused by the controller (NAK)</source>
        <translation>控制器拒绝（NAK）</translation>
    </message>
    <message>
        <source>block %1: the controller refused the request (NAK) %2 times. It may not accept reads now: check that it is not in a mode that locks its memory, and that the adapter is set to 9600 baud 7E1.</source>
        <translation>块 %1：控制器拒绝请求（NAK）%2 次，现在可能不让读。请检查控制器是否处在锁住存储器的模式，以及转换器是否设为 9600 波特 7E1。</translation>
    </message>
    <message>
        <source>the template %1 is not a regular file (it is a folder, pipe or device). Put a copy of the template file moban.pmw there instead.</source>
        <translation>模板 %1 不是普通文件（是文件夹、管道或设备）。请换成模板文件 moban.pmw 的副本。</translation>
    </message>
    <message>
        <source>%1 is not a folder, so earlier images cannot be kept in it. Move or rename that file, then start again.</source>
        <translation>%1 不是文件夹，原来的程序文件没法放进去。请把这个文件移走或改名，然后重新开始。</translation>
    </message>
    <message>
        <source>duqu.pmw.lock in %1 is a folder, not progread&apos;s lock file: remove it, then start again.</source>
        <translation>%1 里的 duqu.pmw.lock 是一个文件夹，不是 progread 的锁文件：请删除它，然后重新开始。</translation>
    </message>
    <message>
        <source>duqu.pmw.lock in %1 is not a file (it is a link, pipe or device), so not progread&apos;s lock file: remove it, then start again.</source>
        <translation>%1 里的 duqu.pmw.lock 不是文件（是链接、管道或设备），不是 progread 的锁文件：请删除它，然后重新开始。</translation>
    </message>
    <message>
        <source>duqu.pmw.lock in %1 cannot be read as progread&apos;s lock file (it is empty or damaged). If no progread is using this folder, remove it, then start again.</source>
        <translation>%1 里的 duqu.pmw.lock 读不出是 progread 的锁文件（是空的或已损坏）。如果没有别的 progread 在用这个文件夹，请删除它，然后重新开始。</translation>
    </message>
    <message>
        <source>duqu.pmw.lock in %1 was left by a progread that has ended (process %2) and cannot be removed: %3. Remove it by hand or make the folder writable, then start again.</source>
        <translation>%1 里的 duqu.pmw.lock 是已结束的 progread（进程 %2）留下的，删不掉：%3。请手动删除它，或让这个文件夹可以写入，然后重新开始。</translation>
    </message>
</context>
<context>
    <name>progread::Form1</name>
    <message>
        <source>Port number (1 is the first serial port) or a device path such as /dev/ttyUSB0</source>
        <translation>串口号（1 是第一个串口）或设备路径，例如 /dev/ttyUSB0</translation>
    </message>
    <message>
        <source>Opening %1…</source>
        <translation>正在打开 %1…</translation>
    </message>
    <message>
        <source> — type a port number (1 is the first port) or a device path.</source>
        <translation> —— 请输入串口号（1 是第一个串口）或设备路径。</translation>
    </message>
    <message>
        <source>Port: %1</source>
        <translation>串口：%1</translation>
    </message>
    <message>
        <source>Port %1 is open. Press 读入 to read the program.</source>
        <translation>串口 %1 已打开。按“读入”读取程序。</translation>
    </message>
    <message>
        <source>(try %1 of %2)</source>
        <translation>（第 %1 次，共 %2 次）</translation>
    </message>
    <message>
        <source>Block %1: %2; asking again.</source>
        <translation>块 %1：%2；重新请求。</translation>
    </message>
    <message>
        <source>Answers were lost on the way: reading blocks %1 to %2 a second time to be sure.</source>
        <translation>途中有应答丢失：把块 %1 到 %2 再读一遍核对。</translation>
    </message>
    <message>
        <source>Reading every block a second time to check it (--verify).</source>
        <translation>每块再读一遍核对（--verify）。</translation>
    </message>
    <message>
        <source>The controller forms its reply checksums by another rule: each block is read twice and taken only when both reads agree.</source>
        <translation>控制器的应答校验和算法不同：每块读两次，两次一致才采用。</translation>
    </message>
    <message>
        <source>Done.</source>
        <translation>完成。</translation>
    </message>
    <message>
        <source>Stopped: %1</source>
        <translation>已停止：%1</translation>
    </message>
</context>
<context>
    <name>progread::HeadlessRead</name>
    <message>
        <source>warning: %1</source>
        <translation>注意：%1</translation>
    </message>
    <message>
        <source>block %1: %2; asking again</source>
        <translation>块 %1：%2；重新请求</translation>
    </message>
    <message>
        <source>answers were lost on the way: reading blocks %1 to %2 a second time to be sure</source>
        <translation>途中有应答丢失：把块 %1 到 %2 再读一遍核对</translation>
    </message>
    <message>
        <source>reading every block a second time to check it (--verify)</source>
        <translation>每块再读一遍核对（--verify）</translation>
    </message>
    <message>
        <source>the controller forms its reply checksums by another rule: each block is read twice and taken only when both reads agree</source>
        <translation>控制器的应答校验和算法不同：每块读两次，两次一致才采用</translation>
    </message>
    <message>
        <source>interrupted (SIGINT)</source>
        <translation>已中断（SIGINT）</translation>
    </message>
    <message>
        <source>stopped (SIGTERM)</source>
        <translation>已停止（SIGTERM）</translation>
    </message>
    <message>
        <source>stopped: %1</source>
        <translation>已停止：%1</translation>
    </message>
    <message>
        <source>hung up (SIGHUP)</source>
        <translation>终端已断开（SIGHUP）</translation>
    </message>
</context>
<context>
    <name>progread::Station</name>
    <message>
        <source>No template %1: an empty one was created, and the image&apos;s header is 256 zero bytes, which the programming software may reject. Copy the template moban.pmw there.</source>
        <translation>没有模板 %1：已建一个空模板，程序文件头是 256 个零字节，编程软件可能打不开。请把模板 moban.pmw 复制到这里。</translation>
    </message>
    <message>
        <source>The template %1 has only %2 of 256 header bytes; the rest of the header is zeros, which the programming software may reject.</source>
        <translation>模板 %1 只有 %2 个文件头字节（应为 256 个）；其余补零，编程软件可能打不开。</translation>
    </message>
</context>
</TS>
