{ A console host: loads the driver of the port given on the command line,
  prints its title and one reading of the meter (pH and mV).
    tarvelsample 2      reads the meter on com2: through tarvel_2.dll
  Exit status: 0 with a value, 1 when the meter gave none, 2 for a wrong
  argument or a DLL that does not load. }
program tarvelsample;

{$IFDEF FPC}
{$MODE DELPHI}
{$ENDIF}
{$APPTYPE CONSOLE}

uses
  tarvel;

var
  Port, Code: Integer;
  pH, mV: Double;
  pHText, mVText: ShortString;

begin
  Port := 0;
  Code := 1;
  if ParamCount = 1 then
    Val(ParamStr(1), Port, Code);
  if (Code <> 0) or (Port < 1) or (Port > 255) then
  begin
    WriteLn(ErrOutput, 'usage: tarvelsample PORT   (1 to 255: reads comPORT: through tarvel_PORT.dll)');
    Halt(2);
  end;
  if not TarvelLoad(Port) then
  begin
    WriteLn(ErrOutput, 'tarvel_', Port, '.dll does not load or is not a tarvel driver');
    Halt(2);
  end;

  { The title is the DLL's own Windows-1252 text, written as it is. }
  WriteLn(titre());
  pH := ead(0);
  mV := ead(1);
  if (pH = NOT_AVAILABLE) or (mV = NOT_AVAILABLE) then
  begin
    WriteLn('no value from the meter');
    Halt(1); { the unit unloads the DLL as the program ends }
  end;
  { Str writes a decimal point whatever the locale. }
  Str(pH:0:2, pHText);
  Str(mV:0:0, mVText);
  WriteLn('pH ', pHText, ', ', mVText, ' mV');
  TarvelUnload;
end.
