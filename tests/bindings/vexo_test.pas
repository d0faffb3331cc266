{ The Pascal unit against the host build of the library (libVexoDLL.so), whose simulated card
  comes up with its registers at their power-on values: all 19 declarations called, the results
  checked against what that card holds. Exits 1 at the first failed check. }
program vexo_test;

{$MODE DELPHI}

uses
  vexo;

var
  Checks: Integer = 0;

procedure Check(Condition: Boolean; const What: string);
begin
  Inc(Checks);
  if Condition then Exit;
  WriteLn('FAILED: ', What);
  Halt(1);
end;

function LegacyResults: LongInt;
begin
  { Each is 0 or 1; all eight agree when the sum is 0 or 8. }
  Result := cVexoBuffAlloc + cVexoBuffFree + cVexoReadBuffByte + cVexoReadBuffShort +
            cVexoReadBuffLong + cVexoWriteBuffByte + cVexoWriteBuffShort + cVexoWriteBuffLong;
end;

var
  Info: TDeviceInfo;
  Bytes: array[0..7] of Byte;
  Shorts: array[0..1] of Word;
  Longs: array[0..1] of LongWord;
begin
  cVexoClose;
  FillChar(Bytes, SizeOf(Bytes), $A5);
  Check(cVexoReadBlockByte(VEXO_INTMEM_BLOCK0, Bytes, 8) = 0, 'read byte, no card');
  Check(cVexoReadBlockShort(VEXO_INTMEM_BLOCK0, Bytes, 4) = 0, 'read short, no card');
  Check(cVexoReadBlockLong(VEXO_INTMEM_BLOCK0, Bytes, 2) = 0, 'read long, no card');
  Check(Bytes[7] = $A5, 'buffer untouched, no card');
  Check(cVexoWriteBlockByte(VEXO_INTMEM_BLOCK0, Bytes, 8) = 0, 'write byte, no card');
  Check(cVexoWriteBlockShort(VEXO_INTMEM_BLOCK0, Bytes, 4) = 0, 'write short, no card');
  Check(cVexoWriteBlockLong(VEXO_INTMEM_BLOCK0, Bytes, 2) = 0, 'write long, no card');
  Check(LegacyResults = 0, 'buffer functions, no card');
  Check(cVexoGetINTA = -1, 'INTA, no card');
  Check(cVexoDeviceInfo(Info) = 0, 'device info, no card');
  Check(cVexoPciConfig = 0, 'PCI config, no card');

  Check(SizeOf(TDeviceInfo) = 28, 'TDeviceInfo is 28 bytes');
  Check(cVexoOpen = 1, 'open');
  Check(LegacyResults = 8, 'buffer functions, card open');
  Check(cVexoGetINTA = 0, 'INTA');
  Check(cVexoDeviceInfo(Info) = 1, 'device info');
  Check((Info.DriverInfo = $00010203) and (Info.DeviceId = $2004) and (Info.VendorId = $10CF),
        'identity');
  Check((Info.IntMemBase = $E9800000) and (Info.ExtMemBase = $E8000000) and
        (Info.Io1Base = $D000) and (Info.Io2Base = $D400), 'bases from the card''s registers');
  Check(LongWord(cVexoPciConfig) = $200410CF, 'configuration word');

  { What cVexoOpen wrote into a set-up register, read as bytes and as a word. }
  Check((cVexoReadBlockLong(VexoIoAddress(VEXO_IO2_AREA, $10), Longs, 1) = 1) and
        (Longs[0] = $00018000), 'set-up register of I/O range 2');
  Check((cVexoReadBlockByte(VexoIoAddress(VEXO_IO1_AREA, $C4), Bytes, 2) = 1) and
        (Bytes[0] = $0E) and (Bytes[1] = 0), 'set-up register of I/O range 1');

  Longs[0] := $44332211; Longs[1] := $88776655;
  Check(cVexoWriteBlockLong(VEXO_EXTMEM_START + $200, Longs, 2) = 1, 'write longs');
  Shorts[0] := $BEEF;
  Check(cVexoWriteBlockShort(VEXO_EXTMEM_START + $202, Shorts, 1) = 1, 'write short');
  Bytes[0] := $AA;
  Check(cVexoWriteBlockByte(VEXO_EXTMEM_START + $204, Bytes, 1) = 1, 'write byte');
  Check((cVexoReadBlockShort(VEXO_EXTMEM_START + $200, Shorts, 2) = 1) and
        (Shorts[0] = $2211) and (Shorts[1] = $BEEF), 'shorts read back');
  Check((cVexoReadBlockLong(VEXO_EXTMEM_START + $200, Longs, 2) = 1) and
        (Longs[0] = $BEEF2211) and (Longs[1] = $887766AA), 'merged lanes read back');
  Check(cVexoReadBlockByte($20000, Bytes, 1) = 0, 'a start outside the map fails');

  Check(cVexoClose = 1, 'close');
  Check(cVexoClose = 0, 'close a closed card');
  WriteLn(Checks, ' checks passed');
end.
