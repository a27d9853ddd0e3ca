{ tarvel: the PHN130T pH meter driver for Delphi and Free Pascal hosts.

  One unit, two ways of binding the driver, chosen by a define:

  - By default the 58 entries are procedural variables, filled by
    TarvelLoad(Port) with LoadLibrary and GetProcAddress. This is for hosts
    that pick the port at run time: tarvel_1.dll serves com1:, tarvel_2.dll
    com2:, and so on, and the program starts even when no DLL is there.
  - With TARVEL_STATIC defined (Project options, or fpc -dTARVEL_STATIC) they
    are external functions of tarvel_1.dll, bound by Windows when the
    program starts; TARVEL_COM2 ... TARVEL_COM5 name tarvel_2.dll ...
    tarvel_5.dll instead.

  A define rather than two units: both forms have the same names, so host
  code reads "ead(0)" either way and changes form without an edited line,
  and as only one form is compiled their names never clash.

  Conventions: the native family (ea ... psad) and the double family
  (eadouble ... rsbdouble) use Delphi's register convention, the std and
  std-double families stdcall. A 64-bit program (Delphi's or Free Pascal's
  Win64 target) uses the package's x64 DLLs, where there is one calling
  convention: the compiler makes every call the Win64 way whatever the
  directive, so the same declarations serve. Texts are static zero-terminated
  Windows-1252 strings owned by the DLL: copy them, never free them; the
  empty text names a channel that does not exist. NOT_AVAILABLE is the
  answer without a value. Channel 0 is the pH, channel 1 the potential in
  mV.

  Threads: any thread may call the entries, several at once. Readings of
  one DLL take turns, each with its own query and reply; one that arrives
  during others waits for each of them (a reading takes up to 1.26 s without
  an answer, up to 3.1 s on a line that keeps sending noise). pead keeps one
  value per channel. Different DLLs are independent. }
unit tarvel;

{$IFDEF FPC}
{$MODE DELPHI}
{$ENDIF}

interface

const
  NOT_AVAILABLE = -777;

{$IFDEF TARVEL_STATIC}
{$IFDEF TARVEL_COM2}
  TarvelLibrary = 'tarvel_2.dll';
{$ELSE}{$IFDEF TARVEL_COM3}
  TarvelLibrary = 'tarvel_3.dll';
{$ELSE}{$IFDEF TARVEL_COM4}
  TarvelLibrary = 'tarvel_4.dll';
{$ELSE}{$IFDEF TARVEL_COM5}
  TarvelLibrary = 'tarvel_5.dll';
{$ELSE}
  TarvelLibrary = 'tarvel_1.dll';
{$ENDIF}{$ENDIF}{$ENDIF}{$ENDIF}

{ Native family, register convention. }
function ea(n: LongInt): LongInt; register; external TarvelLibrary;
function nea(n: LongInt): PAnsiChar; register; external TarvelLibrary;
function ead(n: LongInt): Double; register; external TarvelLibrary;
function nead(n: LongInt): PAnsiChar; register; external TarvelLibrary;
function sa(n: LongInt; value: LongInt): LongInt; register; external TarvelLibrary;
function nsa(n: LongInt): PAnsiChar; register; external TarvelLibrary;
function sad(n: LongInt; value: Double): Double; register; external TarvelLibrary;
function nsad(n: LongInt): PAnsiChar; register; external TarvelLibrary;
function rsa(n: LongInt): LongInt; register; external TarvelLibrary;
function rsad(n: LongInt): Double; register; external TarvelLibrary;
function eb(n: LongInt): LongInt; register; external TarvelLibrary;
function neb(n: LongInt): PAnsiChar; register; external TarvelLibrary;
function sb(n: LongInt; value: LongInt): LongInt; register; external TarvelLibrary;
function nsb(n: LongInt): PAnsiChar; register; external TarvelLibrary;
function rsb(n: LongInt): LongInt; register; external TarvelLibrary;
function titre: PAnsiChar; register; external TarvelLibrary;
function detail: PAnsiChar; register; external TarvelLibrary;
function pead(n: LongInt): PDouble; register; external TarvelLibrary;
function psad(n: LongInt; value: PDouble): PDouble; register; external TarvelLibrary;

{ Std family, stdcall. }
function stdea(n: LongInt): LongInt; stdcall; external TarvelLibrary;
function stdnea(n: LongInt): PAnsiChar; stdcall; external TarvelLibrary;
function stdead(n: LongInt): Double; stdcall; external TarvelLibrary;
function stdnead(n: LongInt): PAnsiChar; stdcall; external TarvelLibrary;
function stdsa(n: LongInt; value: LongInt): LongInt; stdcall; external TarvelLibrary;
function stdnsa(n: LongInt): PAnsiChar; stdcall; external TarvelLibrary;
function stdsad(n: LongInt; value: Double): Double; stdcall; external TarvelLibrary;
function stdnsad(n: LongInt): PAnsiChar; stdcall; external TarvelLibrary;
function stdrsad(n: LongInt): Double; stdcall; external TarvelLibrary;
function stdeb(n: LongInt): LongInt; stdcall; external TarvelLibrary;
function stdneb(n: LongInt): PAnsiChar; stdcall; external TarvelLibrary;
function stdsb(n: LongInt; value: LongInt): LongInt; stdcall; external TarvelLibrary;
function stdnsb(n: LongInt): PAnsiChar; stdcall; external TarvelLibrary;
function stdrsb(n: LongInt): LongInt; stdcall; external TarvelLibrary;
function stdtitre: PAnsiChar; stdcall; external TarvelLibrary;
function stddetail: PAnsiChar; stdcall; external TarvelLibrary;
function stdeas(n: LongInt): Single; stdcall; external TarvelLibrary;
function stdrsas(n: LongInt): Single; stdcall; external TarvelLibrary;
function stdsas(n: LongInt; value: Single): Single; stdcall; external TarvelLibrary;

{ Double family, register convention: every argument a double on the stack.
  A channel is the double rounded half to even. }
function eadouble(n: Double): Double; register; external TarvelLibrary;
function neadouble(n: Double): PAnsiChar; register; external TarvelLibrary;
function sadouble(n: Double; value: Double): Double; register; external TarvelLibrary;
function nsadouble(n: Double): PAnsiChar; register; external TarvelLibrary;
function rsadouble(n: Double): Double; register; external TarvelLibrary;
function ebdouble(n: Double): Double; register; external TarvelLibrary;
function nebdouble(n: Double): PAnsiChar; register; external TarvelLibrary;
function sbdouble(n: Double; value: Double): Double; register; external TarvelLibrary;
function nsbdouble(n: Double): PAnsiChar; register; external TarvelLibrary;
function rsbdouble(n: Double): Double; register; external TarvelLibrary;

{ Std-double family: the double family in stdcall. }
function stdeadouble(n: Double): Double; stdcall; external TarvelLibrary;
function stdneadouble(n: Double): PAnsiChar; stdcall; external TarvelLibrary;
function stdsadouble(n: Double; value: Double): Double; stdcall; external TarvelLibrary;
function stdnsadouble(n: Double): PAnsiChar; stdcall; external TarvelLibrary;
function stdrsadouble(n: Double): Double; stdcall; external TarvelLibrary;
function stdebdouble(n: Double): Double; stdcall; external TarvelLibrary;
function stdnebdouble(n: Double): PAnsiChar; stdcall; external TarvelLibrary;
function stdsbdouble(n: Double; value: Double): Double; stdcall; external TarvelLibrary;
function stdnsbdouble(n: Double): PAnsiChar; stdcall; external TarvelLibrary;
function stdrsbdouble(n: Double): Double; stdcall; external TarvelLibrary;

{$ELSE}

var
  { Native family, register convention. }
  ea: function(n: LongInt): LongInt; register;
  nea: function(n: LongInt): PAnsiChar; register;
  ead: function(n: LongInt): Double; register;
  nead: function(n: LongInt): PAnsiChar; register;
  sa: function(n: LongInt; value: LongInt): LongInt; register;
  nsa: function(n: LongInt): PAnsiChar; register;
  sad: function(n: LongInt; value: Double): Double; register;
  nsad: function(n: LongInt): PAnsiChar; register;
  rsa: function(n: LongInt): LongInt; register;
  rsad: function(n: LongInt): Double; register;
  eb: function(n: LongInt): LongInt; register;
  neb: function(n: LongInt): PAnsiChar; register;
  sb: function(n: LongInt; value: LongInt): LongInt; register;
  nsb: function(n: LongInt): PAnsiChar; register;
  rsb: function(n: LongInt): LongInt; register;
  titre: function: PAnsiChar; register;
  detail: function: PAnsiChar; register;
  pead: function(n: LongInt): PDouble; register;
  psad: function(n: LongInt; value: PDouble): PDouble; register;

  { Std family, stdcall. }
  stdea: function(n: LongInt): LongInt; stdcall;
  stdnea: function(n: LongInt): PAnsiChar; stdcall;
  stdead: function(n: LongInt): Double; stdcall;
  stdnead: function(n: LongInt): PAnsiChar; stdcall;
  stdsa: function(n: LongInt; value: LongInt): LongInt; stdcall;
  stdnsa: function(n: LongInt): PAnsiChar; stdcall;
  stdsad: function(n: LongInt; value: Double): Double; stdcall;
  stdnsad: function(n: LongInt): PAnsiChar; stdcall;
  stdrsad: function(n: LongInt): Double; stdcall;
  stdeb: function(n: LongInt): LongInt; stdcall;
  stdneb: function(n: LongInt): PAnsiChar; stdcall;
  stdsb: function(n: LongInt; value: LongInt): LongInt; stdcall;
  stdnsb: function(n: LongInt): PAnsiChar; stdcall;
  stdrsb: function(n: LongInt): LongInt; stdcall;
  stdtitre: function: PAnsiChar; stdcall;
  stddetail: function: PAnsiChar; stdcall;
  stdeas: function(n: LongInt): Single; stdcall;
  stdrsas: function(n: LongInt): Single; stdcall;
  stdsas: function(n: LongInt; value: Single): Single; stdcall;

  { Double family, register convention: every argument a double on the
    stack. A channel is the double rounded half to even. }
  eadouble: function(n: Double): Double; register;
  neadouble: function(n: Double): PAnsiChar; register;
  sadouble: function(n: Double; value: Double): Double; register;
  nsadouble: function(n: Double): PAnsiChar; register;
  rsadouble: function(n: Double): Double; register;
  ebdouble: function(n: Double): Double; register;
  nebdouble: function(n: Double): PAnsiChar; register;
  sbdouble: function(n: Double; value: Double): Double; register;
  nsbdouble: function(n: Double): PAnsiChar; register;
  rsbdouble: function(n: Double): Double; register;

  { Std-double family: the double family in stdcall. }
  stdeadouble: function(n: Double): Double; stdcall;
  stdneadouble: function(n: Double): PAnsiChar; stdcall;
  stdsadouble: function(n: Double; value: Double): Double; stdcall;
  stdnsadouble: function(n: Double): PAnsiChar; stdcall;
  stdrsadouble: function(n: Double): Double; stdcall;
  stdebdouble: function(n: Double): Double; stdcall;
  stdnebdouble: function(n: Double): PAnsiChar; stdcall;
  stdsbdouble: function(n: Double; value: Double): Double; stdcall;
  stdnsbdouble: function(n: Double): PAnsiChar; stdcall;
  stdrsbdouble: function(n: Double): Double; stdcall;

{ Loads tarvel_<Port>.dll (Port 1 to 255, the DLL of comPort:; those above
  5 come in the package's more-ports folder), which opens
  its port, and fills every entry above. False, with nothing loaded, when
  the DLL cannot be loaded or lacks an entry. A DLL loaded before is
  unloaded first. A 64-bit program cannot load the 32-bit DLLs: it takes
  x64\tarvel_<Port>.dll beside the program when the package's x64 folder is
  there, else tarvel_<Port>.dll as a 32-bit one does (the search path,
  beside the program first). }
function TarvelLoad(Port: Integer): Boolean;
{ The same for a DLL named by its path. }
function TarvelLoadFile(const FileName: AnsiString): Boolean;
{ Unloads the DLL, which releases its port, and clears every entry. }
procedure TarvelUnload;
function TarvelLoaded: Boolean;

{$ENDIF}

implementation

{$IFNDEF TARVEL_STATIC}

uses
  Windows;

var
  Library_: HMODULE = 0;

procedure Clear;
begin
  ea := nil; nea := nil; ead := nil; nead := nil; sa := nil; nsa := nil;
  sad := nil; nsad := nil; rsa := nil; rsad := nil; eb := nil; neb := nil;
  sb := nil; nsb := nil; rsb := nil; titre := nil; detail := nil;
  pead := nil; psad := nil;
  stdea := nil; stdnea := nil; stdead := nil; stdnead := nil; stdsa := nil;
  stdnsa := nil; stdsad := nil; stdnsad := nil; stdrsad := nil; stdeb := nil;
  stdneb := nil; stdsb := nil; stdnsb := nil; stdrsb := nil; stdtitre := nil;
  stddetail := nil; stdeas := nil; stdrsas := nil; stdsas := nil;
  eadouble := nil; neadouble := nil; sadouble := nil; nsadouble := nil;
  rsadouble := nil; ebdouble := nil; nebdouble := nil; sbdouble := nil;
  nsbdouble := nil; rsbdouble := nil;
  stdeadouble := nil; stdneadouble := nil; stdsadouble := nil;
  stdnsadouble := nil; stdrsadouble := nil; stdebdouble := nil;
  stdnebdouble := nil; stdsbdouble := nil; stdnsbdouble := nil;
  stdrsbdouble := nil;
end;

procedure TarvelUnload;
begin
  Clear;
  if Library_ <> 0 then
    FreeLibrary(Library_);
  Library_ := 0;
end;

function TarvelLoaded: Boolean;
begin
  Result := Library_ <> 0;
end;

function TarvelLoadFile(const FileName: AnsiString): Boolean;
var
  Complete: Boolean;

  { Entry is a procedural variable, taken as untyped so that it is not
    called. }
  procedure Bind(var Entry; Name: PAnsiChar);
  begin
    Pointer(Entry) := GetProcAddress(Library_, Name);
    if Pointer(Entry) = nil then
      Complete := False;
  end;

begin
  TarvelUnload;
  Library_ := LoadLibraryA(PAnsiChar(FileName));
  if Library_ = 0 then
  begin
    Result := False;
    Exit;
  end;
  Complete := True;
  Bind(ea, 'ea'); Bind(nea, 'nea'); Bind(ead, 'ead'); Bind(nead, 'nead');
  Bind(sa, 'sa'); Bind(nsa, 'nsa'); Bind(sad, 'sad'); Bind(nsad, 'nsad');
  Bind(rsa, 'rsa'); Bind(rsad, 'rsad'); Bind(eb, 'eb'); Bind(neb, 'neb');
  Bind(sb, 'sb'); Bind(nsb, 'nsb'); Bind(rsb, 'rsb');
  Bind(titre, 'titre'); Bind(detail, 'detail');
  Bind(pead, 'pead'); Bind(psad, 'psad');
  Bind(stdea, 'stdea'); Bind(stdnea, 'stdnea'); Bind(stdead, 'stdead');
  Bind(stdnead, 'stdnead'); Bind(stdsa, 'stdsa'); Bind(stdnsa, 'stdnsa');
  Bind(stdsad, 'stdsad'); Bind(stdnsad, 'stdnsad'); Bind(stdrsad, 'stdrsad');
  Bind(stdeb, 'stdeb'); Bind(stdneb, 'stdneb'); Bind(stdsb, 'stdsb');
  Bind(stdnsb, 'stdnsb'); Bind(stdrsb, 'stdrsb'); Bind(stdtitre, 'stdtitre');
  Bind(stddetail, 'stddetail'); Bind(stdeas, 'stdeas');
  Bind(stdrsas, 'stdrsas'); Bind(stdsas, 'stdsas');
  Bind(eadouble, 'eadouble'); Bind(neadouble, 'neadouble');
  Bind(sadouble, 'sadouble'); Bind(nsadouble, 'nsadouble');
  Bind(rsadouble, 'rsadouble'); Bind(ebdouble, 'ebdouble');
  Bind(nebdouble, 'nebdouble'); Bind(sbdouble, 'sbdouble');
  Bind(nsbdouble, 'nsbdouble'); Bind(rsbdouble, 'rsbdouble');
  Bind(stdeadouble, 'stdeadouble'); Bind(stdneadouble, 'stdneadouble');
  Bind(stdsadouble, 'stdsadouble'); Bind(stdnsadouble, 'stdnsadouble');
  Bind(stdrsadouble, 'stdrsadouble'); Bind(stdebdouble, 'stdebdouble');
  Bind(stdnebdouble, 'stdnebdouble'); Bind(stdsbdouble, 'stdsbdouble');
  Bind(stdnsbdouble, 'stdnsbdouble'); Bind(stdrsbdouble, 'stdrsbdouble');
  if not Complete then
    TarvelUnload;
  Result := Complete;
end;

{ The DLL of a port for a process of this bitness. }
function PortLibrary(Port: Integer): AnsiString;
var
  Number: ShortString;
{$IFDEF WIN64}
  Path: array[0..MAX_PATH] of AnsiChar;
  Length_: Integer;
  Own: AnsiString;
{$ENDIF}
begin
  Str(Port, Number);
  Result := 'tarvel_' + AnsiString(Number) + '.dll';
{$IFDEF WIN64}
  Length_ := GetModuleFileNameA(0, Path, SizeOf(Path));
  while (Length_ > 0) and (Path[Length_ - 1] <> '\') do
    Dec(Length_);
  SetString(Own, Path, Length_);
  Own := Own + 'x64\' + Result;
  if (Length_ > 0) and (GetFileAttributesA(PAnsiChar(Own)) <> DWORD($FFFFFFFF)) then
    Result := Own;
{$ENDIF}
end;

function TarvelLoad(Port: Integer): Boolean;
begin
  Result := False;
  if (Port < 1) or (Port > 255) then
    Exit;
  Result := TarvelLoadFile(PortLibrary(Port));
end;

initialization

finalization
  TarvelUnload;

{$ENDIF}

end.
