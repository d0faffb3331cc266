Attribute VB_Name = "Vexo"
' Vexo.bas - the VexoLite card from Visual Basic 6.
'
' Add this module to the project, and put VexoVB.dll and VexoDLL.dll (the kit's bin folder)
' beside the program; while you work in the IDE, put them beside VB6.EXE or in the Windows
' system folder. VB6 calls only stdcall functions: VexoVB.dll has each function of VexoDLL.dll
' under the same name, as stdcall, and calls the library's. docs\reference.md describes them.
'
' - Results: 1 for success, 0 for failure, except cVexoGetINTA (0 with the card open, -1
'   without) and cVexoPciConfig (a value from the driver, 0 on failure).
' - Buffers: pass the first element of an array, Data(0), ByRef; Byte arrays for the Byte
'   functions, Integer for Short, Long for Long. Count is in elements, and the array must hold
'   that many.
' - VB6's Long and Integer are signed: bases such as &HE9800000 show as negative numbers (print
'   them with Hex$), and 16-bit values from &H8000 up read as negative Integers. Write hex
'   constants with a trailing & (&H8000&): without it, &H8000 is the Integer -32768.
' - Call the library from one thread, and open the card once per program.
Option Explicit

' What cVexoDeviceInfo fills: seven 32-bit values, 28 bytes.
Public Type DeviceInfo
    driverInfo As Long   ' the driver's information word, passed on as the driver gives it
    deviceId As Long     ' PCI device identifier, &H2004
    vendorId As Long     ' PCI vendor identifier, &H10CF
    intMemBase As Long   ' PCI bus address of the internal memory
    extMemBase As Long   ' PCI bus address of the external memory
    io1Base As Long      ' first port of I/O range 1
    io2Base As Long      ' first port of I/O range 2
End Type

' The board address map: every location on the card is one 32-bit board address.
Public Const VEXO_INTMEM_BLOCK0 As Long = &H0&      ' internal memory, 256 bytes
Public Const VEXO_INTMEM_BLOCK1 As Long = &H8000&   ' internal memory, 256 bytes
Public Const VEXO_INTMEM_BLOCK2 As Long = &HC000&   ' internal memory, 256 bytes
Public Const VEXO_INTMEM_BLOCK_SIZE As Long = &H100&
Public Const VEXO_IO1_AREA As Long = &H10000        ' I/O range 1, ports &H00-&HFF
Public Const VEXO_IO2_AREA As Long = &H10200        ' I/O range 2, ports &H00-&H3F, &H80-&HFF
Public Const VEXO_IO_AREA_END As Long = &H103FF
Public Const VEXO_EXTMEM_START As Long = &H8000000   ' external memory, 16 MiB
Public Const VEXO_EXTMEM_SIZE As Long = &H1000000
Public Const VEXO_MAP_LIMIT As Long = &H8FFFFFF      ' no transfer reaches beyond this address

' Block transfers: Count elements of 1, 2 or 4 bytes from board address Address on.
Public Declare Function cVexoReadBlockByte Lib "VexoVB.dll" _
    (ByVal Address As Long, ByRef Buffer As Byte, ByVal Count As Long) As Long
Public Declare Function cVexoReadBlockShort Lib "VexoVB.dll" _
    (ByVal Address As Long, ByRef Buffer As Integer, ByVal Count As Long) As Long
Public Declare Function cVexoReadBlockLong Lib "VexoVB.dll" _
    (ByVal Address As Long, ByRef Buffer As Long, ByVal Count As Long) As Long
Public Declare Function cVexoWriteBlockByte Lib "VexoVB.dll" _
    (ByVal Address As Long, ByRef Buffer As Byte, ByVal Count As Long) As Long
Public Declare Function cVexoWriteBlockShort Lib "VexoVB.dll" _
    (ByVal Address As Long, ByRef Buffer As Integer, ByVal Count As Long) As Long
Public Declare Function cVexoWriteBlockLong Lib "VexoVB.dll" _
    (ByVal Address As Long, ByRef Buffer As Long, ByVal Count As Long) As Long

' Kept for older programs: each only reports whether the card is open (1) or not (0).
Public Declare Function cVexoBuffAlloc Lib "VexoVB.dll" () As Long
Public Declare Function cVexoBuffFree Lib "VexoVB.dll" () As Long
Public Declare Function cVexoReadBuffByte Lib "VexoVB.dll" () As Long
Public Declare Function cVexoReadBuffShort Lib "VexoVB.dll" () As Long
Public Declare Function cVexoReadBuffLong Lib "VexoVB.dll" () As Long
Public Declare Function cVexoWriteBuffByte Lib "VexoVB.dll" () As Long
Public Declare Function cVexoWriteBuffShort Lib "VexoVB.dll" () As Long
Public Declare Function cVexoWriteBuffLong Lib "VexoVB.dll" () As Long

Public Declare Function cVexoOpen Lib "VexoVB.dll" () As Long
Public Declare Function cVexoClose Lib "VexoVB.dll" () As Long
Public Declare Function cVexoGetINTA Lib "VexoVB.dll" () As Long
Public Declare Function cVexoDeviceInfo Lib "VexoVB.dll" (ByRef Info As DeviceInfo) As Long
Public Declare Function cVexoPciConfig Lib "VexoVB.dll" () As Long

' The board address of port Port (&H00-&HFF) of an I/O range (VEXO_IO1_AREA or VEXO_IO2_AREA):
' each 64 ports take a block of 128 addresses. I/O range 2 has no address for ports &H40-&H7F.
Public Function VexoIoAddress(ByVal Area As Long, ByVal Port As Long) As Long
    VexoIoAddress = Area + (Port \ &H40&) * &H80& + (Port And &H3F&)
End Function
