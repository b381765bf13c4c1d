object Form1: TForm1
  Left = 212
  Top = 146
  Width = 870
  Height = 640
  Caption = 'Form1'
  Color = clBtnFace
  Font.Charset = DEFAULT_CHARSET
  Font.Color = clWindowText
  Font.Height = -11
  Font.Name = 'MS Sans Serif'
  Font.Style = []
  OldCreateOrder = False
  PixelsPerInch = 96
  TextHeight = 13
  object Label1: TLabel
    Left = 328
    Top = 328
    Width = 32
    Height = 13
    Caption = 'Label1'
  end
  object MediaPlayer1: TMediaPlayer
    Left = 232
    Top = 400
    Width = 316
    Height = 49
    TabOrder = 0
  end
  object btnrecord: TButton
    Left = 208
    Top = 472
    Width = 89
    Height = 41
    Caption = 'Record'
    Font.Charset = DEFAULT_CHARSET
    Font.Color = clWindowText
    Font.Height = -19
    Font.Name = 'MS Sans Serif'
    Font.Style = []
    ParentFont = False
    TabOrder = 1
    OnClick = btnrecordClick
  end
  object btnsave: TButton
    Left = 320
    Top = 472
    Width = 81
    Height = 41
    Caption = 'Save'
    Font.Charset = DEFAULT_CHARSET
    Font.Color = clWindowText
    Font.Height = -19
    Font.Name = 'MS Sans Serif'
    Font.Style = []
    ParentFont = False
    TabOrder = 2
    OnClick = btnsaveClick
  end
  object btnstop: TButton
    Left = 424
    Top = 472
    Width = 89
    Height = 41
    Caption = 'Stop'
    Font.Charset = DEFAULT_CHARSET
    Font.Color = clWindowText
    Font.Height = -19
    Font.Name = 'MS Sans Serif'
    Font.Style = []
    ParentFont = False
    TabOrder = 3
    OnClick = btnstopClick
  end
  object Play: TButton
    Left = 528
    Top = 472
    Width = 89
    Height = 41
    Caption = 'Play'
    Font.Charset = DEFAULT_CHARSET
    Font.Color = clWindowText
    Font.Height = -19
    Font.Name = 'MS Sans Serif'
    Font.Style = []
    ParentFont = False
    TabOrder = 4
    OnClick = PlayClick
  end
  object btnopen: TButton
    Left = 96
    Top = 472
    Width = 89
    Height = 41
    Caption = 'Open'
    Font.Charset = DEFAULT_CHARSET
    Font.Color = clWindowText
    Font.Height = -19
    Font.Name = 'MS Sans Serif'
    Font.Style = []
    ParentFont = False
    TabOrder = 5
    OnClick = btnopenClick
  end
  object Edit1: TEdit
    Left = 24
    Top = 336
    Width = 273
    Height = 21
    TabOrder = 6
  end
  object btnend: TButton
    Left = 640
    Top = 472
    Width = 97
    Height = 41
    Caption = 'Exit'
    Font.Charset = DEFAULT_CHARSET
    Font.Color = clWindowText
    Font.Height = -19
    Font.Name = 'MS Sans Serif'
    Font.Style = []
    ParentFont = False
    TabOrder = 7
    OnClick = btnendClick
  end
  object ScrollBar1: TScrollBar
    Left = 328
    Top = 352
    Width = 305
    Height = 25
    PageSize = 0
    TabOrder = 8
    OnScroll = ScrollBar1Scroll
  end
  object OpenDialog1: TOpenDialog
    Left = 640
    Top = 408
  end
  object SaveDialog1: TSaveDialog
    Left = 680
    Top = 408
  end
  object Timer1: TTimer
    OnTimer = Timer1Timer
    Left = 728
    Top = 408
  end
end
