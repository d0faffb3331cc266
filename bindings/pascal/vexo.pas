{ The VexoLite PCI card from Delphi and Free Pascal: VexoDLL.dll's 19 functions.

  Every function is cdecl, as declared here; Delphi's default (register) or stdcall would pass
  the arguments where the library does not look for them. The DLL is 32-bit: build a 32-bit
  (Win32) program. Each function returns 1 for success and 0 for failure, except cVexoGetINTA
  (0 with a card open, -1 without) and cVexoPciConfig (a value from the driver, 0 on failure).
  The library serves one thread at a time and keeps one open card per process.

  Block transfers move Count elements of 1, 2 or 4 bytes between Buffer and the card, from board
  address Address on: pass the first element of an array or a variable, e.g.
    cVexoReadBlockLong(VEXO_EXTMEM_START, Words[0], Length(Words)); }
unit vexo;

{$IFDEF FPC}{$MODE DELPHI}{$ENDIF}

interface

const
{$IFDEF UNIX}
  VexoLibrary = 'VexoDLL'; { libVexoDLL.so, a build of the library for other systems }
{$ELSE}
  VexoLibrary = 'VexoDLL.dll';
{$ENDIF}

  { The board address map. }
  VEXO_INTMEM_BLOCK0 = $00000000;
  VEXO_INTMEM_BLOCK1 = $00008000;
  VEXO_INTMEM_BLOCK2 = $0000C000;
  VEXO_INTMEM_BLOCK_SIZE = $100;
  VEXO_IO1_AREA = $00010000;
  VEXO_IO2_AREA = $00010200;
  VEXO_IO_AREA_END = $000103FF;
  VEXO_EXTMEM_START = $08000000;
  VEXO_EXTMEM_SIZE = $01000000;
  VEXO_MAP_LIMIT = $08FFFFFF;

type
  { What cVexoDeviceInfo fills: seven 32-bit values, 28 bytes. }
  TDeviceInfo = packed record
    DriverInfo: LongWord; { the driver's information word }
    DeviceId: LongWord;   { $2004 }
    VendorId: LongWord;   { $10CF }
    IntMemBase: LongWord; { PCI bus address of the internal memory }
    ExtMemBase: LongWord; { PCI bus address of the external memory }
    Io1Base: LongWord;    { first port of I/O range 1 }
    Io2Base: LongWord;    { first port of I/O range 2 }
  end;

function cVexoReadBlockByte(Address: LongWord; var Buffer; Count: LongWord): LongInt;
  cdecl; external VexoLibrary name 'cVexoReadBlockByte';
function cVexoReadBlockShort(Address: LongWord; var Buffer; Count: LongWord): LongInt;
  cdecl; external VexoLibrary name 'cVexoReadBlockShort';
function cVexoReadBlockLong(Address: LongWord; var Buffer; Count: LongWord): LongInt;
  cdecl; external VexoLibrary name 'cVexoReadBlockLong';
function cVexoWriteBlockByte(Address: LongWord; const Buffer; Count: LongWord): LongInt;
  cdecl; external VexoLibrary name 'cVexoWriteBlockByte';
function cVexoWriteBlockShort(Address: LongWord; const Buffer; Count: LongWord): LongInt;
  cdecl; external VexoLibrary name 'cVexoWriteBlockShort';
function cVexoWriteBlockLong(Address: LongWord; const Buffer; Count: LongWord): LongInt;
  cdecl; external VexoLibrary name 'cVexoWriteBlockLong';

{ Kept for older applications: each reports only whether a card is open (1) or not (0). }
function cVexoBuffAlloc: LongInt; cdecl; external VexoLibrary name 'cVexoBuffAlloc';
function cVexoBuffFree: LongInt; cdecl; external VexoLibrary name 'cVexoBuffFree';
function cVexoReadBuffByte: LongInt; cdecl; external VexoLibrary name 'cVexoReadBuffByte';
function cVexoReadBuffShort: LongInt; cdecl; external VexoLibrary name 'cVexoReadBuffShort';
function cVexoReadBuffLong: LongInt; cdecl; external VexoLibrary name 'cVexoReadBuffLong';
function cVexoWriteBuffByte: LongInt; cdecl; external VexoLibrary name 'cVexoWriteBuffByte';
function cVexoWriteBuffShort: LongInt; cdecl; external VexoLibrary name 'cVexoWriteBuffShort';
function cVexoWriteBuffLong: LongInt; cdecl; external VexoLibrary name 'cVexoWriteBuffLong';

function cVexoOpen: LongInt; cdecl; external VexoLibrary name 'cVexoOpen';
function cVexoClose: LongInt; cdecl; external VexoLibrary name 'cVexoClose';
function cVexoGetINTA: LongInt; cdecl; external VexoLibrary name 'cVexoGetINTA';
function cVexoDeviceInfo(var Info: TDeviceInfo): LongInt;
  cdecl; external VexoLibrary name 'cVexoDeviceInfo';
function cVexoPciConfig: LongInt; cdecl; external VexoLibrary name 'cVexoPciConfig';

{ Board address of port offset Port ($00-$FF) of the I/O range at Area: every 64 ports take a
  block of 128 addresses. }
function VexoIoAddress(Area, Port: LongWord): LongWord;

implementation

function VexoIoAddress(Area, Port: LongWord): LongWord;
begin
  Result := Area + ((Port shr 6) shl 7) + (Port and $3F);
end;

end.
