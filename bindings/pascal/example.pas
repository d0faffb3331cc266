{ Opens the card, shows what it reports, and writes and reads back a pattern in the first block
  of internal memory and in the first words of external memory.

    fpc -Mdelphi example.pas           (Free Pascal, Win32 target)
    dcc32 example.pas                  (Delphi)
  then run example.exe beside VexoDLL.dll. }
program example;

{$IFDEF FPC}{$MODE DELPHI}{$ENDIF}
{$IFDEF WIN32}{$APPTYPE CONSOLE}{$ENDIF}

uses
  SysUtils, vexo;

var
  Info: TDeviceInfo;
  Pattern, Back: array[0..VEXO_INTMEM_BLOCK_SIZE - 1] of Byte;
  Words, WordsBack: array[0..3] of LongWord;
  K: Integer;
  Ok: Boolean;
begin
  if cVexoOpen = 0 then
  begin
    WriteLn('Failed: the card cannot be opened');
    Halt(1);
  end;
  try
    if cVexoDeviceInfo(Info) = 0 then
    begin
      WriteLn('Failed: no device information');
      Halt(1);
    end;
    WriteLn(Format('card %.4X:%.4X, internal memory at 0x%.8X, external at 0x%.8X, I/O at 0x%X and 0x%X',
      [Info.VendorId, Info.DeviceId, Info.IntMemBase, Info.ExtMemBase, Info.Io1Base, Info.Io2Base]));

    for K := 0 to High(Pattern) do
      Pattern[K] := Byte(K);
    Ok := (cVexoWriteBlockByte(VEXO_INTMEM_BLOCK0, Pattern, Length(Pattern)) = 1) and
          (cVexoReadBlockByte(VEXO_INTMEM_BLOCK0, Back, Length(Back)) = 1) and
          CompareMem(@Pattern, @Back, SizeOf(Pattern));

    Words[0] := $12345678; Words[1] := $9ABCDEF0; Words[2] := $0F1E2D3C; Words[3] := $4B5A6978;
    Ok := Ok and (cVexoWriteBlockLong(VEXO_EXTMEM_START, Words, Length(Words)) = 1) and
          (cVexoReadBlockLong(VEXO_EXTMEM_START, WordsBack, Length(WordsBack)) = 1) and
          CompareMem(@Words, @WordsBack, SizeOf(Words));
  finally
    cVexoClose;
  end;
  if Ok then
    WriteLn('Both patterns read back correctly')
  else
  begin
    WriteLn('A pattern did NOT read back');
    Halt(1);
  end;
end.
