<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>Cli</name>
    <message>
        <source>(try progread --help)</source>
        <translation>（用 progread --help 查看用法）</translation>
    </message>
    <message>
        <source>unknown option %1</source>
        <translation>未知选项：%1</translation>
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
        <translation>progread: 没有图形界面（未设置 DISPLAY），无法打开窗口。不用窗口读取：progread --read 串口（详见 progread --help）。</translation>
    </message>
    <message>
        <source>The image file cannot be prepared:
%1</source>
        <translation>无法创建程序文件：
%1</translation>
    </message>
    <message>
        <source>--trace %1 would write into %2, one of progread&apos;s own files; give the trace another name</source>
        <translation>--trace %1 会写进 %2，这是 progread 自己的文件；请给通信记录文件另起名字</translation>
    </message>
    <message>
        <source>--compare goes with --read</source>
        <translation>--compare 只能和 --read 一起用</translation>
    </message>
    <message>
        <source>--probe goes with --list-ports</source>
        <translation>--probe 只能和 --list-ports 一起用</translation>
    </message>
    <message>
        <source>Usage: progread [--port PORT] [--dir DIR] [--fast] [--verify] [--trace FILE] [--lang zh|en]
  or:  progread --read PORT [--compare FILE] [--dir DIR] [--fast] [--verify] [--trace FILE]
                 [--lang zh|en]
  or:  progread --list-ports [--probe]

Reads the program out of a controller on a serial port into duqu.pmw, headed by the first
256 bytes of the template moban.pmw.

  --port PORT    open the window with PORT in the port field (else the port of the last
                 read that finished, else 1)
  --read PORT    read one program without a window; progress and the outcome go to standard
                 error. Exit status 0: a complete image was written; 1: the read failed;
                 129 / 130 / 143: stopped by SIGHUP (terminal closed) / SIGINT (Ctrl-C) /
                 SIGTERM. PORT may be auto: the serial ports are tried, USB adapters first,
                 and the read goes on where the controller answers; auto:PORT,PORT,... tries
                 those ports instead.
  --compare FILE after the read, compare its program with the one in FILE (a program file
                 such as history/duqu-20261206-140312.pmw). Exit status 0: the same;
                 3: they differ; 2: FILE is not a program file.
  --dir DIR      keep the files in DIR instead of the folder named below
  --fast         send each request as soon as the answer before it is handled instead of on
                 the 100 ms tick; only for a controller known to take requests back to back
  --verify       read the program a second time and write the image only when both reads
                 agree byte for byte
  --trace FILE   append every request and answer to FILE, with the time to the millisecond
                 and what became of each answer
  --lang zh|en   the language of messages (default: the system&apos;s)
  --list-ports   print the serial ports this system has, one a line: path, /dev/serial/by-id
                 name, description, manufacturer, serial number, separated by tabs
  --probe        with --list-ports: ask each port for block 0 and add a column that says
                 whether a controller answered there
  --help         print this help and exit
  --version      the version, and the version of Qt it runs on

PORT is a port number (1 is the first port: /dev/ttyS0 on Linux, COM1 on Windows) or a
device path such as /dev/ttyUSB0. A usage error, and the window without a display, exit
with status 2.

A read goes to duqu.pmw.part and becomes duqu.pmw only when it is complete; a read that
stops keeps its blocks in duqu.pmw.part. An earlier duqu.pmw stays until a complete read
replaces it, and is then kept in history/ (unless the program read is the same, byte for
byte). moban.pmw is the programming software&apos;s template for this controller: copy it from
there into the same folder. These files lie in the program&apos;s folder or, where that is not
writable, in Documents/progread of the user.
</source>
        <translation>用法：progread [--port 串口] [--dir 文件夹] [--fast] [--verify] [--trace 文件] [--lang zh|en]
  或：progread --read 串口 [--compare 文件] [--dir 文件夹] [--fast] [--verify] [--trace 文件]
                 [--lang zh|en]
  或：progread --list-ports [--probe]

从串口上的控制器读取程序，存为 duqu.pmw，文件头取自模板 moban.pmw 的前 256 字节。

  --port 串口    打开窗口，串口号填入该串口（不给时用上次读取成功的串口，否则为 1）
  --read 串口    不开窗口读取一次；进度和结果输出到标准错误。
                 退出码 0：已写出完整程序文件；1：读取失败；
                 129 / 130 / 143：终端关闭（SIGHUP）/ Ctrl-C（SIGINT）/ SIGTERM 停止。
                 串口可以写 auto：逐个尝试本机串口（先试 USB 转串口线），在控制器应答的
                 串口上读取；auto:串口,串口,... 只尝试列出的串口。
  --compare 文件 读取后把程序和该文件中的程序比较（程序文件，例如
                 history/duqu-20261206-140312.pmw）。退出码 0：相同；3：不同；
                 2：该文件不是程序文件。
  --dir 文件夹   文件放在该文件夹，而不是下面所说的文件夹
  --fast         收到应答后立即发下一个请求，不等 100 毫秒节拍；
                 只用于确认能连续接收请求的控制器
  --verify       把程序再读取一遍，两遍逐字节一致才写出程序文件
  --trace 文件   把每个请求和应答追加到该文件，带毫秒时间和每个应答的处理结果
  --lang zh|en   提示信息的语言（默认跟随系统）
  --list-ports   列出本机的串口，每行一个：路径、/dev/serial/by-id 名称、描述、
                 厂商、序列号，用制表符分隔
  --probe        与 --list-ports 一起用：向每个串口请求第 0 块，并加一列说明
                 是否有控制器应答
  --help         显示本说明并退出
  --version      显示版本和所用的 Qt 版本

串口可以是串口号（1 是第一个串口：Linux 上是 /dev/ttyS0，Windows 上是 COM1），
也可以是设备路径，例如 /dev/ttyUSB0。用法错误，以及没有图形界面时打开窗口，退出码为 2。

读取先写入 duqu.pmw.part，读完后才改名为 duqu.pmw；中途停止时已读取的块保留在
duqu.pmw.part。原有的 duqu.pmw 保持不动，直到新的完整读取替换它，那时它存入 history/
（新读取的程序与它逐字节相同时不另存）。moban.pmw 是编程软件里这种控制器的模板文件：
从编程软件复制到同一文件夹。这些文件放在程序所在文件夹；该文件夹不能写入时，放在用户的
Documents/progread。
</translation>
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
        <source>%1 blocks were confirmed by a second reply.</source>
        <translation>%1 块经第二次应答确认。</translation>
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
        <source>%1: %2</source>
        <comment>an error&apos;s kind, then what happened</comment>
        <translation>%1：%2</translation>
    </message>
    <message>
        <source>none</source>
        <translation>无</translation>
    </message>
    <message>
        <source>Just after plugging in, ModemManager probes a new serial port for some seconds: wait a little and try again.</source>
        <translation>USB 转串口线刚插上时，ModemManager 会探测新串口几秒钟：请稍等一会再试。</translation>
    </message>
    <message>
        <source>sudo usermod -aG %1 &quot;$USER&quot;, then log out and in again</source>
        <translation>sudo usermod -aG %1 &quot;$USER&quot;，然后注销并重新登录</translation>
    </message>
    <message>
        <source>Check that the disk has room and that the folder may be written to.</source>
        <translation>请检查磁盘是否还有空间、文件夹能否写入。</translation>
    </message>
    <message>
        <source>Choose another folder with --dir, or make this one writable.</source>
        <translation>请用 --dir 换一个文件夹，或让这个文件夹可以写入。</translation>
    </message>
    <message>
        <source>refused by the controller (NAK)</source>
        <translation>控制器拒绝（NAK）</translation>
    </message>
    <message>
        <source>%1 is not a folder, so earlier images cannot be kept in it. Move or rename that file, then start again.</source>
        <translation>%1 不是文件夹，无法存放原来的程序文件。请把这个文件移走或改名，然后重新开始。</translation>
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
        <translation>%1 里的 duqu.pmw.lock 无法识别为 progread 的锁文件（是空的或已损坏）。如果没有别的 progread 在用这个文件夹，请删除它，然后重新开始。</translation>
    </message>
    <message>
        <source>duqu.pmw.lock in %1 was left by a progread that has ended (process %2) and cannot be removed: %3. Remove it by hand or make the folder writable, then start again.</source>
        <translation>%1 里的 duqu.pmw.lock 是已结束的 progread（进程 %2）留下的，删不掉：%3。请手动删除它，或让这个文件夹可以写入，然后重新开始。</translation>
    </message>
    <message>
        <source>1 block</source>
        <translation>1 块</translation>
    </message>
    <message>
        <source>%1 blocks</source>
        <translation>%1 块</translation>
    </message>
    <message>
        <source>1 retry</source>
        <translation>重发 1 次</translation>
    </message>
    <message>
        <source>%1 retries</source>
        <translation>重发 %1 次</translation>
    </message>
    <message>
        <source>Second read to check: block %1 of %2.</source>
        <translation>第二遍核对：第 %1 块，共 %2 块。</translation>
    </message>
    <message>
        <source>Answers were lost on the way: the blocks from %1 to %2 are read a second time to be sure.</source>
        <translation>通信中有应答丢失，将重新读取地址 %1～%2 的数据块进行核对。</translation>
    </message>
    <message>
        <source>Every block is read a second time to check it.</source>
        <translation>每块都将再读取一遍进行核对。</translation>
    </message>
    <message>
        <source>The controller forms its reply checksums by another rule: each block is read twice and taken only when both reads agree.</source>
        <translation>控制器的应答校验和算法不同：每块读取两次，两次一致才采用。</translation>
    </message>
    <message>
        <source>Read %1 bytes, %2, in %3 s (%4 bytes/s), %5.</source>
        <translation>共读取 %1 字节，%2，用时 %3 秒（%4 字节/秒），%5。</translation>
    </message>
    <message>
        <source>Verified: a second read agreed byte for byte.</source>
        <translation>已核对：两次读取逐字节一致。</translation>
    </message>
    <message>
        <source>1 block was confirmed by a second reply.</source>
        <translation>1 块经第二次应答确认。</translation>
    </message>
    <message>
        <source>Warning: %1</source>
        <translation>警告：%1</translation>
    </message>
    <message>
        <source>Overflow</source>
        <translation>溢出</translation>
    </message>
    <message>
        <source>Subscript out of range</source>
        <translation>下标越界</translation>
    </message>
    <message>
        <source>Type mismatch</source>
        <translation>类型不匹配</translation>
    </message>
    <message>
        <source>File error</source>
        <translation>文件错误</translation>
    </message>
    <message>
        <source>Serial port error</source>
        <translation>串口错误</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>that the controller&apos;s port is set to 9600 bps, 7 data bits, even parity, 1 stop bit</source>
        <translation>控制器通信参数是否为 9600 bps、7 位数据位、偶校验、1 位停止位</translation>
    </message>
    <message>
        <source>No serial port is found on this computer now: check that the USB serial cable is plugged in.</source>
        <translation>本机当前没有串口：请检查 USB 转串口线是否插好。</translation>
    </message>
    <message>
        <source>Ports on this computer: %1.</source>
        <translation>本机现有串口：%1。</translation>
    </message>
    <message>
        <source>Check that the cable is plugged in at both ends, that the controller is powered and in a state that answers (not stopped on an error, not talking to another device), that this is the controller&apos;s port, and %1.</source>
        <translation>请检查：通信电缆两端是否插好；控制器是否通电、能否应答（没有因故障停机，也没有在和别的设备通信）；这个串口是否接的是控制器；%1。</translation>
    </message>
    <message>
        <source>The line is out of step: an answer came when none was due (last block taken: %1). Make sure no other program uses the port, then read again.</source>
        <translation>通信不同步：没有待答的请求时却收到了应答（最后采用的块：%1）。请确认没有别的程序在用这个串口，然后重新读取。</translation>
    </message>
    <message>
        <source>The end of program memory (%1) was reached without an end marker. Check that the controller holds a program, then read again.</source>
        <translation>已读到程序存储器末尾（%1），仍没有结束标记。请检查控制器里是否有程序，然后重新读取。</translation>
    </message>
    <message>
        <source>The port was changed to %1 during the read.</source>
        <translation>读取期间串口被改为 %1。</translation>
    </message>
    <message>
        <source>No port chosen: type the port into 串口号.</source>
        <translation>没有选择串口：请在“串口号”中输入串口。</translation>
    </message>
    <message>
        <source>Cannot open %1: there is no such device.</source>
        <translation>无法打开 %1：设备不存在。</translation>
    </message>
    <message>
        <source>Cannot open %1: it is in use by another program. Close the other program.</source>
        <translation>无法打开 %1：串口正被别的程序使用。请关闭那个程序。</translation>
    </message>
    <message>
        <source>Cannot open %1: permission denied; the user must be in the group &apos;%2&apos; (%3).</source>
        <translation>无法打开 %1：没有权限；用户必须属于组“%2”（%3）。</translation>
    </message>
    <message>
        <source>Cannot open %1: permission denied; only root may open it. Add a udev rule that gives the device to the group &apos;%2&apos; with mode 0660, and put the user in that group (%3).</source>
        <translation>无法打开 %1：没有权限，只有 root 能打开。请添加一条 udev 规则，把设备交给组“%2”、权限 0660，并把用户加入该组（%3）。</translation>
    </message>
    <message>
        <source>Cannot open %1: it is already open.</source>
        <translation>无法打开 %1：该串口已经打开。</translation>
    </message>
    <message>
        <source>The system cannot open %1 as a serial port. Check that this is a serial port.</source>
        <translation>无法把 %1 作为串口打开。请检查它是不是串口。</translation>
    </message>
    <message>
        <source>Cannot send to %1. Check the USB serial cable and its plugs.</source>
        <translation>无法向 %1 发送数据。请检查 USB 转串口线和插头。</translation>
    </message>
    <message>
        <source>The port %1 was disconnected (the connection was lost) and has been closed. Check that the USB serial cable is plugged in.</source>
        <translation>串口 %1 连接中断，已关闭。请检查 USB 转串口线是否插好。</translation>
    </message>
    <message>
        <source>The port field is empty.</source>
        <translation>串口号为空。</translation>
    </message>
    <message>
        <source>Port %1 does not exist; ports are numbered from 1.</source>
        <translation>没有串口 %1；串口号从 1 开始。</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is neither a port number nor a device path.</source>
        <translation>“%1”既不是串口号也不是设备路径。</translation>
    </message>
    <message>
        <source>Cannot look at %1: %2.</source>
        <translation>无法查看 %1：%2。</translation>
    </message>
    <message>
        <source>Cannot remove %1: %2.</source>
        <translation>无法删除 %1：%2。</translation>
    </message>
    <message>
        <source>Cannot write in the folder %1: %2.</source>
        <translation>无法在文件夹 %1 中写入：%2。</translation>
    </message>
    <message>
        <source>Make the folder writable.</source>
        <translation>请让这个文件夹可以写入。</translation>
    </message>
    <message>
        <source>Cannot read the template %1: %2.</source>
        <translation>无法读取模板 %1：%2。</translation>
    </message>
    <message>
        <source>Cannot create the template %1: %2.</source>
        <translation>无法创建模板 %1：%2。</translation>
    </message>
    <message>
        <source>Cannot open the template %1: %2.</source>
        <translation>无法打开模板 %1：%2。</translation>
    </message>
    <message>
        <source>Cannot create the folder %1: %2.</source>
        <translation>无法创建文件夹 %1：%2。</translation>
    </message>
    <message>
        <source>Cannot create %1: %2.</source>
        <translation>无法创建 %1：%2。</translation>
    </message>
    <message>
        <source>Cannot write to %1: %2.</source>
        <translation>无法写入 %1：%2。</translation>
    </message>
    <message>
        <source>Cannot close %1: %2.</source>
        <translation>无法关闭 %1：%2。</translation>
    </message>
    <message>
        <source>Cannot rename %1 to %2: %3.</source>
        <translation>无法把 %1 改名为 %2：%3。</translation>
    </message>
    <message>
        <source>Cannot move %1 to %2: %3.</source>
        <translation>无法把 %1 移到 %2：%3。</translation>
    </message>
    <message>
        <source>Cannot use %1: %2.</source>
        <translation>无法使用 %1：%2。</translation>
    </message>
    <message>
        <source>Cannot use %1: it is not a file; move it elsewhere.</source>
        <translation>无法使用 %1：它不是文件，请把它移走。</translation>
    </message>
    <message>
        <source>The template %1 is a link to a file that is not there; restore the file or remove the link.</source>
        <translation>模板 %1 是一个链接，指向的文件不存在；请恢复该文件或删除这个链接。</translation>
    </message>
    <message>
        <source>Cannot move %1 into %2: every file name for its time already exists.</source>
        <translation>无法把 %1 移入 %2：以该时间命名的文件名都已存在。</translation>
    </message>
    <message>
        <source>Another progread (process %1) is using the folder %2; close it first.</source>
        <translation>另一个 progread（进程 %1）正在使用文件夹 %2；请先关闭它。</translation>
    </message>
    <message>
        <source>Another progread is using the folder %1; close it first.</source>
        <translation>另一个 progread 正在使用文件夹 %1；请先关闭它。</translation>
    </message>
    <message>
        <source>Or give this one another folder with --dir.</source>
        <translation>或用 --dir 给这个 progread 换一个文件夹。</translation>
    </message>
    <message>
        <source>The template %1 is not a regular file (it is a folder, pipe or device). Put a copy of the template file moban.pmw there instead.</source>
        <translation>模板 %1 不是普通文件（是文件夹、管道或设备）。请换成编程软件的模板文件 moban.pmw。</translation>
    </message>
    <message>
        <source>The image %1 is not open.</source>
        <translation>程序文件 %1 没有打开。</translation>
    </message>
    <message>
        <source>Type a port number (such as 1) or a device path (such as /dev/ttyUSB0).</source>
        <translation>请输入串口号（如 1）或设备路径（如 /dev/ttyUSB0）。</translation>
    </message>
    <message>
        <source>Answers were lost on the way, so a second read checked %1, and both reads agreed.</source>
        <translation>通信中有应答丢失，已重读 %1核对，两次结果一致。</translation>
    </message>
    <message>
        <source>1 of %1 blocks differs</source>
        <translation>共 %1 块，其中 1 块不同</translation>
    </message>
    <message>
        <source>%1 of %2 blocks differ</source>
        <translation>共 %2 块，其中 %1 块不同</translation>
    </message>
    <message>
        <source>%1, the first at %2; the program read now is %3 longer</source>
        <translation>%1，第一处在 %2；这次读取的程序多 %3</translation>
    </message>
    <message>
        <source>%1, the first at %2; the program read now is %3 shorter</source>
        <translation>%1，第一处在 %2；这次读取的程序少 %3</translation>
    </message>
    <message>
        <source>%1, the first at %2</source>
        <translation>%1，第一处在 %2</translation>
    </message>
    <message>
        <source>Same program as the read of %1.</source>
        <translation>与 %1 读取的程序相同。</translation>
    </message>
    <message>
        <source>Differs from the read of %1: %2.</source>
        <translation>与 %1 读取的程序不同：%2。</translation>
    </message>
    <message>
        <source>Same program as %1.</source>
        <translation>与 %1 中的程序相同。</translation>
    </message>
    <message>
        <source>nothing</source>
        <translation>无</translation>
    </message>
    <message>
        <source>Differs from %1: %2 (there: %3 read now, %4 in the file).</source>
        <translation>与 %1 中的程序不同：%2（该处这次读取为 %3，文件中为 %4）。</translation>
    </message>
    <message>
        <source>%1 is not there.</source>
        <translation>%1 不存在。</translation>
    </message>
    <message>
        <source>%1 is not a file.</source>
        <translation>%1 不是文件。</translation>
    </message>
    <message>
        <source>%1 cannot be read.</source>
        <translation>无法读取 %1。</translation>
    </message>
    <message>
        <source>%1 is not a program image: it must be a 256-byte header, whole 32-byte blocks and the tail of 513 times FF 00, as duqu.pmw is.</source>
        <translation>%1 不是程序文件：程序文件由 256 字节文件头、整数个 32 字节的块和 513 个 FF 00 的结尾组成，和 duqu.pmw 一样。</translation>
    </message>
    <message>
        <source>Fingerprint (SHA-256): %1.</source>
        <translation>SHA-256 校验值：%1。</translation>
    </message>
    <message>
        <source>Looking for the controller…</source>
        <translation>正在查找控制器所在的串口…</translation>
    </message>
    <message>
        <source>The controller answered on %1.</source>
        <translation>在 %1 上找到控制器。</translation>
    </message>
    <message>
        <source>No controller answered.</source>
        <translation>没有找到控制器。</translation>
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
        <source>The earlier read&apos;s %1, a complete image (%2), was moved to %3.</source>
        <translation>上次读取留下的 %1 是完整的程序文件（%2），已移到 %3。</translation>
    </message>
    <message>
        <source>The earlier read&apos;s %1 (%2) was moved to %3.</source>
        <translation>上次读取留下的 %1（%2）已移到 %3。</translation>
    </message>
    <message>
        <source>Made the folder %1.</source>
        <translation>已新建文件夹 %1。</translation>
    </message>
    <message>
        <source>The complete image stays in %1 under that name.</source>
        <translation>完整的程序文件保留在 %1，文件名不变。</translation>
    </message>
    <message>
        <source>No block was read; no %1 was written.</source>
        <translation>没有读取到任何块；没有生成 %1。</translation>
    </message>
    <message>
        <source>Incomplete: %1 kept in %2; no %3 was written.</source>
        <translation>未读完：已读取的 %1已保存在 %2；没有生成 %3。</translation>
    </message>
    <message>
        <source>Interrupted (SIGINT).</source>
        <translation>已中断（SIGINT）。</translation>
    </message>
    <message>
        <source>Hung up (SIGHUP).</source>
        <translation>终端已断开（SIGHUP）。</translation>
    </message>
    <message>
        <source>Stopped (SIGTERM).</source>
        <translation>已停止（SIGTERM）。</translation>
    </message>
    <message>
        <source>Stopped: %1</source>
        <translation>已停止：%1</translation>
    </message>
    <message>
        <source>Opening %1…</source>
        <translation>正在打开 %1…</translation>
    </message>
    <message>
        <source>Port: %1.</source>
        <translation>串口：%1。</translation>
    </message>
    <message>
        <source>Port %1 is open. Press 读入 to read the program.</source>
        <translation>串口 %1 已打开。按“读入”开始读取程序。</translation>
    </message>
    <message>
        <source>Press 读入 to look for the controller&apos;s port.</source>
        <translation>按“读入”查找控制器所在的串口。</translation>
    </message>
    <message>
        <source>%1: the controller answered</source>
        <translation>%1：控制器有应答</translation>
    </message>
    <message>
        <source>%1: no answer</source>
        <translation>%1：没有应答</translation>
    </message>
    <message>
        <source>%1: something answered, but not as a controller does</source>
        <translation>%1：有应答，但不是控制器的应答</translation>
    </message>
    <message>
        <source>%1: in use by another program</source>
        <translation>%1：正被别的程序使用</translation>
    </message>
    <message>
        <source>%1: permission denied</source>
        <translation>%1：没有权限</translation>
    </message>
    <message>
        <source>%1: no such device</source>
        <translation>%1：设备不存在</translation>
    </message>
    <message>
        <source>%1: cannot be written to</source>
        <translation>%1：无法发送</translation>
    </message>
    <message>
        <source>%1: cannot be opened</source>
        <translation>%1：无法打开</translation>
    </message>
    <message>
        <source>No serial port was there to try.</source>
        <translation>没有可以尝试的串口。</translation>
    </message>
    <message>
        <source>Ports tried: %1.</source>
        <translation>已尝试的串口：%1。</translation>
    </message>
    <message>
        <source>; </source>
        <translation>；</translation>
    </message>
    <message>
        <source>No template %1: an empty one was created, and the image&apos;s header is 256 zero bytes, which the programming software may reject. Put the programming software&apos;s template for this controller there, under the name moban.pmw.</source>
        <translation>没有模板 %1：已新建空模板，程序文件头为 256 个零字节，编程软件可能打不开。请把编程软件里这种控制器的模板文件放到这里，文件名为 moban.pmw。</translation>
    </message>
    <message>
        <source>The template %1 is empty, so the image&apos;s header is 256 zero bytes, which the programming software may reject. Replace it with the programming software&apos;s template for this controller.</source>
        <translation>模板 %1 是空文件，程序文件头为 256 个零字节，编程软件可能打不开。请换成编程软件里这种控制器的模板文件。</translation>
    </message>
    <message>
        <source>The template %1 has only %2 of 256 header bytes; the rest of the header is zeros, which the programming software may reject. Replace it with the programming software&apos;s template for this controller.</source>
        <translation>模板 %1 只有 %2 个文件头字节（应为 256 个）；其余补零，编程软件可能打不开。请换成编程软件里这种控制器的模板文件。</translation>
    </message>
    <message>
        <source>The earlier image was kept as %1.</source>
        <translation>原来的程序文件已存为 %1。</translation>
    </message>
    <message>
        <source>%1 still holds the read of %2.</source>
        <translation>%1 仍是 %2 读取的程序。</translation>
    </message>
    <message>
        <source>Answers owed to an earlier read on this port came and were dropped: the blocks from %1 to %2 are read a second time to be sure.</source>
        <translation>收到并丢弃了这个串口上次读取遗留的应答，将重新读取地址 %1～%2 的数据块进行核对。</translation>
    </message>
    <message>
        <source>The record of answers still owed on this port cannot be kept (%1): a read started right after this one stops may take an answer owed to it. Check the folder&apos;s permissions.</source>
        <translation>无法保存这个串口的待应答记录（%1）：这次读取停止后马上再读取，可能收到属于这次的应答。请检查该文件夹的权限。</translation>
    </message>
    <message>
        <source>Answers owed to an earlier read on this port came and were dropped, so a second read checked %1, and both reads agreed.</source>
        <translation>收到并丢弃了这个串口上次读取遗留的应答，已重读 %1核对，两次结果一致。</translation>
    </message>
    <message>
        <source>the duqu.pmw this read replaced</source>
        <translation>这次读取替换掉的 duqu.pmw</translation>
    </message>
    <message>
        <source>%1 (the duqu.pmw this read replaced)</source>
        <translation>%1（即这次读取替换掉的 duqu.pmw）</translation>
    </message>
    <message>
        <source>%1 is not a program image: it is larger than an image can be (%2 bytes at most); check the file name.</source>
        <translation>%1 不是程序文件：程序文件最大 %2 字节，它比这还大；请检查文件名。</translation>
    </message>
    <message>
        <source>%1: permission denied; the user must be in the group &apos;%2&apos;</source>
        <translation>%1：没有权限；用户必须加入组“%2”（加入后重新登录）</translation>
    </message>
    <message>
        <source>%1: permission denied; only root may open it</source>
        <translation>%1：没有权限，只有 root 能打开（需要 udev 规则）</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>完成</translation>
    </message>
    <message>
        <source>Done, with a warning</source>
        <translation>完成，但有警告</translation>
    </message>
    <message>
        <source>Read failed</source>
        <translation>读取失败</translation>
    </message>
    <message>
        <source>Stopped</source>
        <translation>已停止</translation>
    </message>
    <message>
        <source>停止 was pressed.</source>
        <translation>已按“停止”。</translation>
    </message>
    <message>
        <source>block %1 (%2)</source>
        <translation>第 %1 块（地址 %2）</translation>
    </message>
    <message>
        <source>Block %1 (%2): %3 bytes read, %4 bytes/s, %5 s, %6.</source>
        <translation>第 %1 块（地址 %2）：已读取 %3 字节，%4 字节/秒，%5 秒，%6。</translation>
    </message>
    <message>
        <source>Block %1 (%2): %3; asking again.</source>
        <translation>第 %1 块（地址 %2）：%3，重新请求。</translation>
    </message>
    <message>
        <source>Waiting for the answer to block %1 (%2), %3 s.</source>
        <translation>正在等待第 %1 块（地址 %2）的应答，已等 %3 秒。</translation>
    </message>
    <message>
        <source>Block %1 (%2): no reply after %3 requests.</source>
        <translation>第 %1 块（地址 %2）连续请求 %3 次都没有应答。</translation>
    </message>
    <message>
        <source>Block %1 (%2): no answer; the line is busy with characters that are no answers (%3 characters in %4 s): another device on this port, or another line speed? Check that only the controller is on this port, and %5.</source>
        <translation>第 %1 块（地址 %2）没有应答；线路上一直有不是应答的字符（%4 秒内 %3 个字符）：这个串口上是否接了别的设备，或者通信速率不对？请检查这个串口只接了控制器，并且%5。</translation>
    </message>
    <message>
        <source>Block %1 (%2): %3 after %4 requests. Check the cable and its plugs, and %5.</source>
        <translation>第 %1 块（地址 %2）连续请求 %4 次，最后仍是%3。请检查通信电缆和插头，以及%5。</translation>
    </message>
    <message>
        <source>Block %1 (%2): the controller refused the request (NAK) %3 times. It may not accept reads now: check that it is not in a mode that locks its memory, and %4.</source>
        <translation>第 %1 块（地址 %2）：控制器 %3 次拒绝请求（NAK）。它现在可能不接受读取：请检查它是否处于锁定存储器的模式，以及%4。</translation>
    </message>
    <message>
        <source>Block %1 (%2) read a second time differs from the first read: the line lost track of its answers, or the program changed meanwhile. Read again.</source>
        <translation>第 %1 块（地址 %2）第二遍读取的内容与第一遍不同：通信中应答错位，或读取期间程序被修改。请重新读取。</translation>
    </message>
    <message>
        <source>Request %1 of at most %2.</source>
        <translation>第 %1 次请求（最多 %2 次）。</translation>
    </message>
    <message>
        <source>Check that the USB serial cable is plugged in, or choose another port.</source>
        <translation>请检查 USB 转串口线是否插好，或换一个串口。</translation>
    </message>
    <message>
        <source>%1 was there earlier, so brltty (a braille display service) may have claimed the adapter: remove brltty (sudo apt remove brltty) and plug the adapter in again.</source>
        <translation>%1 刚才还在，可能是 brltty（盲文显示服务）占用了 USB 转串口线：请卸载 brltty（sudo apt remove brltty），再重新插上 USB 转串口线。</translation>
    </message>
</context>
<context>
    <name>progread::Form1</name>
    <message>
        <source>Port number (1 is the first serial port) or a device path such as /dev/ttyUSB0</source>
        <translation>串口号（1 是第一个串口）或设备路径，例如 /dev/ttyUSB0</translation>
    </message>
    <message>
        <source>Stop the read (Esc); the blocks read so far are kept</source>
        <translation>停止读取（Esc）；已读取的块会保留</translation>
    </message>
    <message>
        <source>Compare the program read with a saved program file</source>
        <translation>把读取的程序和保存的程序文件比较</translation>
    </message>
    <message>
        <source>Compare with a program file</source>
        <translation>与程序文件比较</translation>
    </message>
    <message>
        <source>Program files (*.pmw);;All files (*)</source>
        <translation>程序文件 (*.pmw);;所有文件 (*)</translation>
    </message>
    <message>
        <source>Try each port, USB adapters first, and read where the controller answers</source>
        <translation>逐个尝试串口（先试 USB 转串口线），在控制器应答的串口上读取</translation>
    </message>
</context>
</TS>
