{ delivery.pas: pours 1.5 litres on nozzle 1 of dispenser 1 through libzarvik,
  loaded at run time (dynlibs), on the serial line named on the command line.

    fpc delivery.pas && ./delivery /dev/ttyUSB0

  The library: ZARVIK_C_LIBRARY, else libzarvik.so.1 (zarvik.dll on Windows).
  Exit code: 0 delivered, 1 a call failed (its status and text printed). }
program delivery;

{$mode objfpc}{$H+}{$codepage UTF8}

uses
  {$ifdef unix}cwstring,{$endif} dynlibs, SysUtils;

const
  {$ifdef windows}DefaultLibrary = 'zarvik.dll';{$else}DefaultLibrary = 'libzarvik.so.1';{$endif}

type
  { zarvik_c.h's records, field for field. }
  TNozzleStatus = record
    Litres, Money: Double;
    State, HasValues: Byte;
    Reserved: array[0..5] of Byte;
  end;
  TDispenserStatus = record
    Rec: array[0..15] of Byte;
    State, StateNozzle, NozzleCount: Byte;
    Reserved: array[0..4] of Byte;
    Nozzles: array[0..5] of TNozzleStatus;
  end;
  PPointer = ^Pointer;

  { ZARVIK_CALL: stdcall on Windows, the C convention elsewhere. }
  TStationNew = function(Options: Int32; Station: PPointer): Int32; {$ifdef windows}stdcall{$else}cdecl{$endif};
  TStationFree = function(Station: Pointer): Int32; {$ifdef windows}stdcall{$else}cdecl{$endif};
  TSetDevice = function(Station: Pointer; Line: Int32; Path: PChar): Int32; {$ifdef windows}stdcall{$else}cdecl{$endif};
  TLineCall = function(Station: Pointer; Line: Int32): Int32; {$ifdef windows}stdcall{$else}cdecl{$endif};
  TNozzleValue = function(Station: Pointer; Line, Dispenser, Nozzle: Int32; Value: Double): Int32;
    {$ifdef windows}stdcall{$else}cdecl{$endif};
  TNozzleCall = function(Station: Pointer; Line, Dispenser, Nozzle: Int32): Int32;
    {$ifdef windows}stdcall{$else}cdecl{$endif};
  TPoll = function(Station: Pointer; Line, Dispenser, Count: Int32; var Status: TDispenserStatus): Int32;
    {$ifdef windows}stdcall{$else}cdecl{$endif};
  TLastError = function(Buffer: PChar; Size: UInt32; Needed: PUInt32): Int32; {$ifdef windows}stdcall{$else}cdecl{$endif};

var
  Lib: TLibHandle;
  LastError: TLastError;

function Get(const Name: string): Pointer;
begin
  Result := GetProcedureAddress(Lib, Name);
  if Result = nil then
  begin
    WriteLn(StdErr, 'the library has no ', Name);
    Halt(1);
  end;
end;

procedure Check(const What: string; Status: Int32);
var
  Text: array[0..511] of Char;
begin
  if Status = 0 then Exit;
  LastError(@Text[0], SizeOf(Text), nil);
  WriteLn(StdErr, What, ': status ', Status, ': ', PChar(@Text[0]));
  Halt(1);
end;

var
  Path: string;
  Station: Pointer = nil;
  Status: TDispenserStatus;
  Poll: Integer;
begin
  if ParamCount <> 1 then
  begin
    WriteLn(StdErr, 'usage: delivery DEVICE');
    Halt(2);
  end;
  Path := GetEnvironmentVariable('ZARVIK_C_LIBRARY');
  if Path = '' then Path := DefaultLibrary;
  Lib := LoadLibrary(Path);
  if Lib = NilHandle then
  begin
    WriteLn(StdErr, 'cannot load ', Path);
    Halt(1);
  end;
  LastError := TLastError(Get('zarvik_last_error'));
  Check('station', TStationNew(Get('zarvik_station_new'))(0, @Station));
  Check('device', TSetDevice(Get('zarvik_set_device'))(Station, 1, PChar(ParamStr(1))));
  Check('open', TLineCall(Get('zarvik_line_open'))(Station, 1));
  Check('price', TNozzleValue(Get('zarvik_set_price'))(Station, 1, 1, 1, 50.0));
  Check('dose', TNozzleValue(Get('zarvik_preset_litres'))(Station, 1, 1, 1, 1.5));
  Check('start', TNozzleCall(Get('zarvik_start'))(Station, 1, 1, 1));
  FillChar(Status, SizeOf(Status), 0);
  for Poll := 1 to 200 do
  begin
    Check('poll', TPoll(Get('zarvik_poll'))(Station, 1, 1, 3, Status));
    if (Status.Nozzles[0].HasValues = 1) and (Status.Nozzles[0].Litres >= 1.5) then Break;
    Sleep(100);
  end;
  WriteLn(Format('delivered %.3f L for %.2f, state 0x%.2X',
    [Status.Nozzles[0].Litres, Status.Nozzles[0].Money, Status.Nozzles[0].State]));
  TStationFree(Get('zarvik_station_free'))(Station);
  if Status.Nozzles[0].Litres < 1.5 then Halt(1);
end.
